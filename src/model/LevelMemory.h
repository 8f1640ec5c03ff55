#pragma once

#include <QHash>
#include <list>

class Graftal;

// Keeps the decoded level images of all graftals within a budget. A graftal's levels are
// decoded when they are used (selected, drawn, made into textures) and tell this keeper
// so; when the decoded images of all graftals together pass the budget, those used
// longest ago are let go. Only images that can be decoded again from their files (or
// made again, blank) are let go: drawing nobody saved yet always stays.
class LevelMemory
{
public:
    static constexpr qint64 DefaultBudget = qint64(256) << 20;
    // The level files' own (compressed) bytes kept in memory, at the most.
    static constexpr qint64 EncodedBudget = qint64(256) << 20;

    static LevelMemory &instance();

    qint64 budget() const { return limit; }
    void setBudget(qint64 bytes);
    // What the decoded images of all graftals take, as far as they told.
    qint64 residentBytes() const { return total; }
    int residentGraftals() const { return int(entries.size()); }

    // `g` has just used its levels, which now take `bytes`: it becomes the most recent,
    // and others are let go while the total is over the budget.
    void touch(Graftal *g, qint64 bytes);
    // `g` now holds `bytes` without having been used (it let some go, or changed).
    void update(Graftal *g, qint64 bytes);
    void forget(Graftal *g);

    // Level files' bytes: whether `bytes` more may be kept, counted if so.
    bool reserveEncoded(qint64 bytes);
    void releaseEncoded(qint64 bytes) { encoded -= bytes; }
    qint64 encodedBytes() const { return encoded; }

private:
    struct Entry
    {
        std::list<Graftal *>::iterator position;
        qint64 bytes = 0;
    };
    void trim(const Graftal *keep);

    qint64 limit = DefaultBudget;
    qint64 total = 0;
    qint64 encoded = 0;
    std::list<Graftal *> order; // most recently used first
    QHash<const Graftal *, Entry> entries;
};
