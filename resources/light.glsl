// The light of the shaded and toon modes, the one definition the model's pixels and the
// graftals' roots share: towardsLight is the light's direction in eye coordinates (from the
// camera or kept with the model), and TOON cuts the light into `bands`.
uniform vec3 towardsLight;
uniform float bands;

float light(vec3 normal)
{
    float d = max(dot(normalize(normal), towardsLight), 0.0);
#ifdef TOON
    if (bands == 3.0)
        return d > 0.6 ? 1.0 : (d > 0.25 ? 0.7 : 0.42);
    return 0.42 + 0.58 * floor(min(d, 0.999) * bands) / (bands - 1.0);
#else
    return 0.3 + 0.7 * d;
#endif
}
