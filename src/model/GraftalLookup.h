#pragma once

class Graftal;

// Where a scene finds the graftals its file names by id: the library, in the program.
class GraftalLookup
{
public:
    virtual ~GraftalLookup() = default;
    virtual Graftal *graftalById(int id) const = 0;
    virtual bool containsId(int id) const = 0;
};
