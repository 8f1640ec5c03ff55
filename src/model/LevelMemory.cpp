#include "LevelMemory.h"

#include "Graftal.h"

LevelMemory &LevelMemory::instance()
{
    static LevelMemory memory;
    return memory;
}

void LevelMemory::setBudget(qint64 bytes)
{
    limit = std::max<qint64>(bytes, 0);
    trim(nullptr);
}

void LevelMemory::update(Graftal *g, qint64 bytes)
{
    auto it = entries.find(g);
    if (it == entries.end()) {
        if (bytes <= 0)
            return;
        order.push_back(g);
        it = entries.insert(g, {std::prev(order.end()), 0});
    }
    total += bytes - it->bytes;
    it->bytes = bytes;
}

void LevelMemory::touch(Graftal *g, qint64 bytes)
{
    update(g, bytes);
    auto it = entries.find(g);
    if (it == entries.end())
        return;
    order.splice(order.begin(), order, it->position);
    trim(g);
}

void LevelMemory::forget(Graftal *g)
{
    const auto it = entries.find(g);
    if (it == entries.end())
        return;
    total -= it->bytes;
    order.erase(it->position);
    entries.erase(it);
}

void LevelMemory::trim(const Graftal *keep)
{
    // Oldest first; a graftal that cannot let go of enough is passed over.
    auto position = order.end();
    while (total > limit && position != order.begin()) {
        --position;
        Graftal *g = *position;
        if (g == keep)
            continue;
        const qint64 left = g->releaseLevels();
        auto it = entries.find(g);
        total += left - it->bytes;
        it->bytes = left;
        if (left == 0) {
            position = order.erase(position);
            entries.erase(it);
        }
    }
}

bool LevelMemory::reserveEncoded(qint64 bytes)
{
    if (encoded + bytes > EncodedBudget)
        return false;
    encoded += bytes;
    return true;
}
