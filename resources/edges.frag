// Smooths the stair steps of a finished picture in one pass over it, at a few fetches a
// pixel (a software renderer runs every branch of a shader, so the work is the same on
// every pixel): the brightness at the pixel's four corners (each fetch between four pixels
// averages them) gives the direction the edge runs in; where the brightness jumps, the
// pixel takes the average of the picture along that direction, over a few pixels. Pixels
// away from edges keep their colour exactly. The picture is read through linear filtering.
uniform sampler2D colorSampler;
uniform vec2 texel; // one pixel in texture coordinates

const vec3 Weights = vec3(0.299, 0.587, 0.114);

float luma(vec2 at)
{
    return dot(texture2D(colorSampler, at).rgb, Weights);
}

void main()
{
    vec2 at = gl_TexCoord[0].st;
    vec3 centre = texture2D(colorSampler, at).rgb;
    float c = dot(centre, Weights);
    float nw = luma(at + vec2(-0.5, 0.5) * texel), ne = luma(at + vec2(0.5, 0.5) * texel);
    float sw = luma(at + vec2(-0.5, -0.5) * texel), se = luma(at + vec2(0.5, -0.5) * texel);
    float lo = min(c, min(min(nw, ne), min(sw, se)));
    float hi = max(c, max(max(nw, ne), max(sw, se)));
    // Along the edge: square to the change of brightness between the corners.
    vec2 along = vec2((sw + se) - (nw + ne), (ne + se) - (nw + sw));
    float soften = max(0.03125 * (nw + ne + sw + se), 1.0 / 128.0);
    along *= 1.0 / (min(abs(along.x), abs(along.y)) + soften);
    along = clamp(along, vec2(-4.0), vec2(4.0)) * texel;
    vec3 blended = 0.5 * (texture2D(colorSampler, at - along / 6.0).rgb +
                          texture2D(colorSampler, at + along / 6.0).rgb);
    // Only where the brightness changes by more than a little.
    bool edge = hi - lo >= max(1.0 / 24.0, 0.125 * hi);
    gl_FragColor = vec4(edge ? blended : centre, 1.0);
}
