// Puts the model's picture on screen with dark lines where the depth jumps (silhouettes)
// or bends (creases), and hands its depth on so that graftals drawn later are hidden by it.
// The depth buffer is linear across a flat face in screen space, so its second difference
// vanishes on faces and shows where two faces meet at an angle. With THIN (lines one pixel
// wide) a crease is drawn only on the nearer of the two pixels beside it.
uniform sampler2D colorSampler;
uniform sampler2D depthSampler;
uniform vec2 texel; // one pixel in texture coordinates
uniform float nearPlane;
uniform float farPlane;
// How far the neighbours are, in pixels, below and to the left (x) and above and to the
// right (y): a line is about x + y pixels wide (1 and 1 for two pixels, 0 and 1 for one).
uniform vec2 reach;
uniform vec3 lineColor;

void main()
{
    vec2 at = gl_TexCoord[0].st;
    float c = texture2D(depthSampler, at).r;
    // Left, right, below, above.
    vec4 n = vec4(texture2D(depthSampler, at - vec2(reach.x * texel.x, 0.0)).r,
                  texture2D(depthSampler, at + vec2(reach.y * texel.x, 0.0)).r,
                  texture2D(depthSampler, at - vec2(0.0, reach.x * texel.y)).r,
                  texture2D(depthSampler, at + vec2(0.0, reach.y * texel.y)).r);
    // A silhouette where a neighbour's distance from the eye differs from this pixel's by
    // more than 3 %. The distance is near * far / w with w = far - depth * (far - near), so
    // |1/w_n - 1/w_c| > 0.03 / w_c comes to |w_c - w_n| > 0.03 w_n: no division.
    float span = farPlane - nearPlane;
    float wc = farPlane - c * span;
    vec4 wn = vec4(farPlane) - n * span;
    bool silhouette = any(greaterThan(abs(vec4(wc) - wn), 0.03 * wn));
    // The slopes on either side, per pixel, for the crease's bend.
    float low = max(reach.x, 1.0);
    vec4 m = reach.x < 0.5 ? vec4(texture2D(depthSampler, at - vec2(texel.x, 0.0)).r, n.y,
                                  texture2D(depthSampler, at - vec2(0.0, texel.y)).r, n.w)
                           : n;
    vec2 below = (vec2(c) - m.xz) / low, above = (m.yw - vec2(c)) / reach.y;
    vec2 bends = abs(above - below);
    vec2 slopes = abs(above + below);
    bool crease = c < 1.0 && bends.x + bends.y > 0.6 * (slopes.x + slopes.y) + 1e-6;
#ifdef THIN
    // The bends of the pixels before (left, below) and after (right, above): the crease lies
    // nearest the pixel of the largest bend along the axis that bends most.
    vec2 far0 = vec2(texture2D(depthSampler, at - vec2(2.0 * texel.x, 0.0)).r,
                     texture2D(depthSampler, at - vec2(0.0, 2.0 * texel.y)).r);
    vec2 far1 = vec2(texture2D(depthSampler, at + vec2(2.0 * texel.x, 0.0)).r,
                     texture2D(depthSampler, at + vec2(0.0, 2.0 * texel.y)).r);
    vec2 before = abs(vec2(c) - 2.0 * m.xz + far0), after = abs(far1 - 2.0 * m.yw + vec2(c));
    bvec2 nearest = bvec2(bends.x >= after.x && bends.x > before.x,
                          bends.y >= after.y && bends.y > before.y);
    crease = crease && (bends.x >= bends.y ? nearest.x : nearest.y);
#endif
    vec4 color = texture2D(colorSampler, at);
    gl_FragColor = (silhouette || crease) ? vec4(lineColor, 1.0) : color;
    // Lines drawn beside the model (on the background) take the nearer depth, so that
    // graftals standing in front of the silhouette still show.
    gl_FragDepth = silhouette ? min(min(min(n.x, n.y), min(n.z, n.w)), c) : c;
}
