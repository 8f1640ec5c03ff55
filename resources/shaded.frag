// The model lit by light.glsl's light, which comes before this source, smoothly ("Shaded")
// or, with TOON defined, in flat bands ("Toon"); with TEXTURED, faces show their texture's
// colour instead of their material's. With GRAFTAL it colours graftals instead, as the flat
// shader does, under a mesh colour lit as the model is at the graftal's root (shaded.vert
// lights it into the vertex colour's red, green and blue; its alpha is the fade). Each use
// is a program of its own, so that none pays for the others' branches pixel by pixel.
// Graftals keep the texels in alphaRange, their levels moved by lodBias, as the flat
// shader's do.
uniform vec3 meshColor;
uniform sampler2D texSampler;
uniform sampler2D maskSampler;
uniform vec2 alphaRange;
uniform float lodBias;
varying vec3 eyeNormal;

// A graftal instance's own tint, in its third texture coordinates: its brightness factor
// and the cosine and sine of its hue's turn about the grey axis; (1, 1, 0) leaves the
// colour exactly as it is.
vec3 tinted(vec3 c, vec3 t)
{
    const vec3 grey = vec3(0.5773502691896258);
    return t.x * (c * t.y + cross(grey, c) * t.z + grey * (dot(grey, c) * (1.0 - t.y)));
}

void main()
{
#ifdef GRAFTAL
    vec4 tex = texture2D(texSampler, gl_TexCoord[0].st, lodBias);
    vec4 mask = texture2D(maskSampler, gl_TexCoord[0].st, lodBias);
    mask.rgb = meshColor * gl_Color.rgb;
    mask.a = mask.a < 0.2 ? 0.0 : mask.a;
    vec4 s = vec4(mask.a);
    vec4 color = tex * (vec4(1.0) - s) + mask * s;
    color.a *= gl_Color.a;
    color.rgb = tinted(color.rgb, gl_TexCoord[2].xyz);
    // Where every graftal is shown, those the fade would hide are tinted pale blue.
    color.rgb = mix(color.rgb, vec3(0.6, 0.8, 1.0), 0.5 * gl_SecondaryColor.r);
    if (color.a < alphaRange.x || color.a >= alphaRange.y)
        discard;
    gl_FragColor = color;
#else
    // Faces seen from behind (open models) are lit from their front.
    vec3 n = gl_FrontFacing ? eyeNormal : -eyeNormal;
#ifdef TEXTURED
    vec3 base = texture2D(texSampler, gl_TexCoord[0].st).rgb;
#else
    vec3 base = gl_Color.rgb;
#endif
    gl_FragColor = vec4(base * light(n), gl_Color.a);
#endif
}
