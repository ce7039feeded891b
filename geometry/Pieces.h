#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Union-find over places 0 .. count-1, with path halving. The smaller root
// index wins a union, so the roots never depend on the order the unions
// were made in.
class Pieces {
public:
    explicit Pieces(std::size_t count) : parent_(count)
    {
        for (std::size_t i = 0; i < count; ++i)
            parent_[i] = static_cast<std::uint32_t>(i);
    }

    std::uint32_t root(std::uint32_t i)
    {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];
            i = parent_[i];
        }
        return i;
    }

    // True when a and b were in different pieces until now.
    bool join(std::uint32_t a, std::uint32_t b)
    {
        a = root(a);
        b = root(b);
        if (a == b)
            return false;
        if (a < b)
            parent_[b] = a;
        else
            parent_[a] = b;
        return true;
    }

private:
    std::vector<std::uint32_t> parent_;
};
