// The model lit by a light that follows the camera, smoothly ("Shaded") or in three flat
// bands ("Toon"). Graftal fragments mix texture and mesh colour by the mask as the flat
// shader does; the mesh colour there is shaded as the model is at the graftal's root,
// which comes in the vertex colour's red, green and blue (its alpha is the fade). Faces
// with a texture show the texture's colour instead of their material's.
uniform bool isGraftal;
uniform bool hasTexture;
uniform bool toon;
uniform vec3 meshColor;
uniform sampler2D texSampler;
uniform sampler2D maskSampler;
varying vec3 eyeNormal;

// Keep in step with SceneRenderer's own copy for graftal roots.
const vec3 towardsLight = vec3(-0.3713907, 0.5570860, 0.7427814); // (-0.4, 0.6, 0.8) unit

float light(vec3 normal)
{
    float d = max(dot(normalize(normal), towardsLight), 0.0);
    if (toon)
        return d > 0.6 ? 1.0 : (d > 0.25 ? 0.7 : 0.42);
    return 0.3 + 0.7 * d;
}

void main()
{
    if (isGraftal) {
        vec4 tex = texture2D(texSampler, gl_TexCoord[0].st);
        vec4 mask = texture2D(maskSampler, gl_TexCoord[0].st);
        mask.rgb = meshColor * gl_Color.rgb;
        vec4 s = vec4(mask.a);
        vec4 color = tex * (vec4(1.0) - s) + mask * s;
        color.a *= gl_Color.a;
        gl_FragColor = color;
        return;
    }
    // Faces seen from behind (open models) are lit from their front.
    vec3 n = gl_FrontFacing ? eyeNormal : -eyeNormal;
    vec3 base = hasTexture ? texture2D(texSampler, gl_TexCoord[0].st).rgb : gl_Color.rgb;
    gl_FragColor = vec4(base * light(n), gl_Color.a);
}
