// Puts a picture drawn earlier back with its depth, so that what is drawn over it next is
// hidden where the picture is nearer.
uniform sampler2D colorSampler;
uniform sampler2D depthSampler;

void main()
{
    vec2 at = gl_TexCoord[0].st;
    gl_FragColor = texture2D(colorSampler, at);
    gl_FragDepth = texture2D(depthSampler, at).r;
}
