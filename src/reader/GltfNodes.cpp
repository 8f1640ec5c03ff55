#include "GltfNodes.h"

#include "ModelTransfer.h"
#include "TransferWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace gltfnodes {
namespace {

// Nodes assimp may build, all references counted.
constexpr uint64_t MaxNodeReferences = 1'000'000;
constexpr int MaxDepth = 64;

struct Node
{
    std::vector<uint64_t> children;
    bool mesh = false;
};

// Just enough of JSON to find the nodes: strings, numbers, literals, nesting.
class Json
{
public:
    Json(const char *begin, const char *end) : p(begin), e(end) {}

    bool nodes(std::vector<Node> &out)
    {
        bool found = false;
        return object(0,
                      [&](const std::string &key) {
                          if (key != "nodes" || found)
                              return value(1);
                          found = true;
                          return array(1, [&] {
                              out.emplace_back();
                              Node &n = out.back();
                              if (!at('{'))
                                  return value(2);
                              return object(2, [&](const std::string &k) {
                                  if (k == "mesh") {
                                      n.mesh = true;
                                      return value(3);
                                  }
                                  if (k != "children")
                                      return value(3);
                                  return array(3, [&] {
                                      uint64_t index = 0;
                                      if (!number(index))
                                          return value(4);
                                      n.children.push_back(index);
                                      return true;
                                  });
                              });
                          });
                      }) &&
               found;
    }

private:
    void space()
    {
        while (p < e && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r'))
            ++p;
    }
    bool at(char c)
    {
        space();
        return p < e && *p == c;
    }
    bool take(char c)
    {
        if (!at(c))
            return false;
        ++p;
        return true;
    }
    bool string(std::string *out)
    {
        if (!take('"'))
            return false;
        for (; p < e && *p != '"'; ++p) {
            if (*p == '\\' && ++p == e)
                return false;
            if (out && out->size() < 64)
                *out += *p;
        }
        return take('"');
    }
    bool number(uint64_t &out)
    {
        space();
        const char *start = p;
        while (p < e && *p >= '0' && *p <= '9' && p - start < 18)
            out = out * 10 + uint64_t(*p++ - '0');
        return p > start && (p == e || !std::strchr(".eE-+0123456789", *p));
    }
    template <typename Each> bool object(int depth, Each each)
    {
        if (depth > MaxDepth || !take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            std::string key;
            if (!string(&key) || !take(':') || !each(key))
                return false;
        } while (take(','));
        return take('}');
    }
    template <typename Each> bool array(int depth, Each each)
    {
        if (depth > MaxDepth || !take('['))
            return false;
        if (take(']'))
            return true;
        do
            if (!each())
                return false;
        while (take(','));
        return take(']');
    }
    bool value(int depth)
    {
        space();
        if (p == e)
            return false;
        if (*p == '{')
            return object(depth + 1, [&](const std::string &) { return value(depth + 1); });
        if (*p == '[')
            return array(depth + 1, [&] { return value(depth + 1); });
        if (*p == '"')
            return string(nullptr);
        const char *start = p;
        while (p < e && std::strchr("-+.eE0123456789truefalsn", *p))
            ++p;
        return p > start;
    }

    const char *p, *e;
};

} // namespace

bool check(const unsigned char *data, size_t size, bool binary, std::string &problem)
{
    const char *begin = reinterpret_cast<const char *>(data), *end = begin + size;
    if (binary) {
        // A GLB: its 12-byte header, then the JSON chunk's length and type.
        if (size < 20 || std::memcmp(data + 16, "JSON", 4) != 0)
            return true;
        uint32_t length = 0;
        std::memcpy(&length, data + 12, 4);
        begin += 20;
        end = begin + std::min<uint64_t>(length, size - 20);
    }
    std::vector<Node> nodes;
    if (!Json(begin, end).nodes(nodes))
        return true;

    // How many nodes and mesh placements each node unfolds into, children first.
    const size_t n = nodes.size();
    std::vector<uint64_t> refs(n, 0), meshes(n, 0);
    std::vector<uint8_t> state(n, 0); // 0 not seen, 1 on the way, 2 counted
    std::vector<std::pair<size_t, size_t>> stack;
    for (size_t root = 0; root < n; ++root) {
        if (state[root])
            continue;
        stack.push_back({root, 0});
        state[root] = 1;
        while (!stack.empty()) {
            auto &[node, next] = stack.back();
            const std::vector<uint64_t> &children = nodes[node].children;
            if (next < children.size()) {
                const uint64_t child = children[next++];
                if (child >= n)
                    continue;
                if (state[child] == 1) {
                    problem = "the file's nodes hold one another in a loop";
                    return false;
                }
                if (state[child] == 0) {
                    state[child] = 1;
                    stack.push_back({size_t(child), 0});
                }
                continue;
            }
            uint64_t r = 1, m = nodes[node].mesh ? 1 : 0;
            for (uint64_t c : children)
                if (c < n) {
                    r = std::min(r + refs[c], MaxNodeReferences + 1);
                    m = std::min(m + meshes[c], uint64_t(ModelTransfer::MaxObjects) + 1);
                }
            refs[node] = r;
            meshes[node] = m;
            state[node] = 2;
            stack.pop_back();
            if (m > ModelTransfer::MaxObjects || r > MaxNodeReferences) {
                problem = tooManyObjects();
                return false;
            }
        }
    }
    return true;
}

} // namespace gltfnodes
