#pragma once

// Where graftals fade away as the face they stand on turns towards the eye. With facing
// d = |n·v| (0 at a silhouette, 1 face on), a graftal is whole below `from`, fades out
// between `from` and `to` and is gone beyond. Its size follows the same turn: full up to a
// facing of a fifth of `from`, half way down at 0.7 × `from`, nothing at the fade's
// middle. Kept with the scene's view; the defaults are those every scene had before.
struct FadeRange
{
    static constexpr double DefaultFrom = 0.5, DefaultTo = 0.7;
    double from = DefaultFrom;
    double to = DefaultTo;

    bool valid() const { return from >= 0.0 && to <= 1.0 && from < to; }

    // The facing moved onto the default range, on which the size and fade rules are
    // written: linear below `from` and between `from` and `to`, meeting at `from`. The
    // defaults give the facing back as it is, bit for bit.
    double onDefaultRange(double d) const
    {
        if (d < from)
            return d * (DefaultFrom / from);
        return DefaultFrom + (d - from) * ((DefaultTo - DefaultFrom) / (to - from));
    }

    friend bool operator==(const FadeRange &, const FadeRange &) = default;
};

// How one draw fades its graftals: the scene's range, and whether every graftal shows
// whatever its facing ("Show every graftal"), whole, marked by how much the fade would
// take away.
struct GraftalFade
{
    FadeRange range;
    bool showAll = false;
};
