// Colours the model and the graftals standing on it.
// Model fragments keep their interpolated vertex colour. Graftal fragments mix the
// graftal's texture with the colour of the mesh underneath: where the mask is opaque
// the mesh colour shows, elsewhere the texture. The vertex alpha carries the fade
// towards surfaces that face the viewer, so it scales the graftal's alpha.
uniform bool isGraftal;
uniform vec3 meshColor;
uniform sampler2D texSampler;
uniform sampler2D maskSampler;

void main()
{
    vec4 color = gl_Color;
    if (isGraftal) {
        vec4 tex = texture2D(texSampler, gl_TexCoord[0].st);
        vec4 mask = texture2D(maskSampler, gl_TexCoord[0].st);
        mask.rgb = meshColor;
        vec4 s = vec4(mask.a);
        color = tex * (vec4(1.0) - s) + mask * s;
        color.a *= gl_Color.a;
    }
    gl_FragColor = color;
}
