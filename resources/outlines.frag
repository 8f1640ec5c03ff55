// Puts the model's picture on screen with dark lines where the depth jumps (silhouettes)
// or bends (creases), and hands its depth on so that graftals drawn later are hidden by it.
// The depth buffer is linear across a flat face in screen space, so its second difference
// vanishes on faces and shows where two faces meet at an angle.
uniform sampler2D colorSampler;
uniform sampler2D depthSampler;
uniform vec2 texel; // one pixel in texture coordinates
uniform float nearPlane;
uniform float farPlane;

float eyeDepth(float d)
{
    return nearPlane * farPlane / (farPlane - d * (farPlane - nearPlane));
}

void main()
{
    vec2 at = gl_TexCoord[0].st;
    float c = texture2D(depthSampler, at).r;
    float l = texture2D(depthSampler, at - vec2(texel.x, 0.0)).r;
    float r = texture2D(depthSampler, at + vec2(texel.x, 0.0)).r;
    float d = texture2D(depthSampler, at - vec2(0.0, texel.y)).r;
    float u = texture2D(depthSampler, at + vec2(0.0, texel.y)).r;
    float zc = eyeDepth(c);
    float jump = max(max(abs(eyeDepth(l) - zc), abs(eyeDepth(r) - zc)),
                     max(abs(eyeDepth(d) - zc), abs(eyeDepth(u) - zc)));
    float bend = abs(l + r - 2.0 * c) + abs(d + u - 2.0 * c);
    float slope = abs(r - l) + abs(u - d);
    bool silhouette = jump > 0.03 * zc;
    bool crease = c < 1.0 && bend > 0.6 * slope + 1e-6;
    vec4 color = texture2D(colorSampler, at);
    gl_FragColor = (silhouette || crease) ? vec4(0.08, 0.08, 0.1, 1.0) : color;
    // Lines drawn beside the model (on the background) take the nearer depth, so that
    // graftals standing in front of the silhouette still show.
    gl_FragDepth = silhouette ? min(min(min(l, r), min(d, u)), c) : c;
}
