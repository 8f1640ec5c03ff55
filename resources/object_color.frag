// Colours the model and the graftals standing on it.
// Model fragments keep their interpolated vertex colour. Graftal fragments mix the
// graftal's texture with the colour of the mesh underneath: where the mask is opaque
// the mesh colour shows, elsewhere the texture. The vertex alpha carries the fade
// towards surfaces that face the viewer, so it scales the graftal's alpha.
// Graftals are drawn in two passes, the opaque texels first with their depth, then the
// translucent ones over them; each pass keeps the texels whose alpha is in alphaRange
// [from, to), so that clear texels hide nothing behind them. Where the mask is faint the
// mesh colour stays off the card, or its edge would show as a halo beside the model.
// lodBias moves the choice of the texture's levels (a picture drawn at twice the view's
// size shows the view's levels). The secondary colour's red says how much of a graftal the
// fade would hide where every graftal is shown (0 otherwise): that much pale blue, halved,
// is mixed in.
uniform bool isGraftal;
uniform vec3 meshColor;
uniform sampler2D texSampler;
uniform sampler2D maskSampler;
uniform vec2 alphaRange;
uniform float lodBias;

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
    vec4 color = gl_Color;
    if (isGraftal) {
        vec4 tex = texture2D(texSampler, gl_TexCoord[0].st, lodBias);
        vec4 mask = texture2D(maskSampler, gl_TexCoord[0].st, lodBias);
        mask.rgb = meshColor;
        mask.a = mask.a < 0.2 ? 0.0 : mask.a;
        vec4 s = vec4(mask.a);
        color = tex * (vec4(1.0) - s) + mask * s;
        color.a *= gl_Color.a;
        color.rgb = tinted(color.rgb, gl_TexCoord[2].xyz);
        // Where every graftal is shown, those the fade would hide are tinted pale blue.
        color.rgb = mix(color.rgb, vec3(0.6, 0.8, 1.0), 0.5 * gl_SecondaryColor.r);
        if (color.a < alphaRange.x || color.a >= alphaRange.y)
            discard;
    }
    gl_FragColor = color;
}
