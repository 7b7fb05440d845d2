#include "skin/layout.h"

#include <algorithm>
#include <vector>

namespace skin {

namespace {

// Sums of many skin values can pass 32 bits; they are added in 64 bits and the results, which
// end up as pixel lengths, are brought back into range.
int32_t clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// floor(a * b / c) for c > 0, without overflow in the product.
int64_t mul_div(int64_t a, int64_t b, int64_t c) {
    __int128 p = static_cast<__int128>(a) * b;
    __int128 q = p / c;
    if (p % c != 0 && p < 0)
        --q;
    return static_cast<int64_t>(q);
}

} // namespace

Anchor anchor_from_name(std::u16string_view name, Anchor fallback) {
    if (name == u"MIN_SIDE")
        return Anchor::MinSide;
    if (name == u"BOTH_SIDE")
        return Anchor::BothSide;
    if (name == u"MAX_SIDE")
        return Anchor::MaxSide;
    if (name == u"RATIO")
        return Anchor::Ratio;
    if (name == u"CENTER")
        return Anchor::Center;
    if (name == u"MIN_SIDE_NO_SIZE")
        return Anchor::MinSideNoSize;
    if (name == u"MAX_SIDE_NO_SIZE")
        return Anchor::MaxSideNoSize;
    return fallback;
}

namespace layout {

int32_t room(Anchor mode, int32_t b0, int32_t s, int32_t b1) {
    switch (mode) {
    case Anchor::MinSide:
        return clamp32(int64_t(b0) + s);
    case Anchor::MaxSide:
        return clamp32(int64_t(s) + b1);
    case Anchor::MinSideNoSize:
    case Anchor::MaxSideNoSize:
        return 0;
    case Anchor::BothSide:
    case Anchor::Ratio:
    case Anchor::Center:
        break;
    }
    return clamp32(int64_t(b0) + s + b1);
}

int32_t extent(Anchor mode, int32_t b0, int32_t b1) {
    switch (mode) {
    case Anchor::MinSide:
    case Anchor::MinSideNoSize:
        return b0;
    case Anchor::MaxSide:
    case Anchor::MaxSideNoSize:
        return b1;
    case Anchor::BothSide:
    case Anchor::Ratio:
    case Anchor::Center:
        break;
    }
    return clamp32(int64_t(b0) + b1);
}

int32_t child_size(Anchor mode, int32_t b0, int32_t s, int32_t b1, int32_t slot) {
    int64_t wanted = mode == Anchor::BothSide ? int64_t(slot) - b0 - b1 : int64_t(s);
    if (mode == Anchor::MinSideNoSize || mode == Anchor::MaxSideNoSize)
        return clamp32(std::max<int64_t>(wanted, 0));
    int64_t cap;
    if (mode == Anchor::MaxSide)
        cap = int64_t(slot) - b1;
    else if (mode == Anchor::MinSide)
        cap = int64_t(slot) - b0;
    else
        cap = int64_t(slot) - b0 - b1;
    return clamp32(std::max<int64_t>(std::min(wanted, cap), 0));
}

int32_t child_offset(Anchor mode, int32_t b0, int32_t size, int32_t b1, int32_t slot) {
    if (mode == Anchor::MaxSide || mode == Anchor::MaxSideNoSize) {
        int64_t d = int64_t(slot) - size - b1;
        return d >= 1 ? clamp32(d) : 0;
    }
    if (mode == Anchor::Center) {
        int64_t h = (int64_t(slot) - b0 - b1) / 2 - size / 2;
        return h >= 1 ? clamp32(int64_t(b0) + h) : b0;
    }
    return b0;
}

Measure measure_plain(int32_t design, std::span<const LayoutItem> children) {
    int64_t p = design;
    int64_t m = design;
    for (const LayoutItem& c : children) {
        int64_t r = room(c.mode, c.b0, c.measure.preferred, c.b1);
        p = std::max(p, r);
        m = std::max(m, int64_t(c.measure.minimum) - c.measure.preferred + r);
    }
    return Measure{clamp32(p), clamp32(m)};
}

Range place_plain(const LayoutItem& child, int32_t x, int32_t length) {
    int32_t size = child_size(child.mode, child.b0, child.measure.preferred, child.b1, length);
    int32_t offset = child_offset(child.mode, child.b0, size, child.b1, length);
    return Range{clamp32(int64_t(x) + offset), size};
}

Measure measure_table(int32_t design, std::span<const LayoutItem> visible) {
    int64_t q = 0;
    int64_t d = 0;
    for (const LayoutItem& c : visible) {
        q += room(c.mode, c.b0, c.measure.preferred, c.b1);
        d += int64_t(c.measure.preferred) - c.measure.minimum;
    }
    return Measure{clamp32(std::max<int64_t>(design, q)), clamp32(std::max<int64_t>(0, q - d))};
}

void place_table(std::span<const LayoutItem> visible, int32_t x, int32_t length,
                 std::span<Range> out) {
    const size_t n = std::min(visible.size(), out.size());
    if (n == 0)
        return;
    std::vector<int64_t> e(n);
    int64_t sum_e = 0;
    int64_t sum_p = 0;
    int64_t sum_m = 0;
    for (size_t i = 0; i < n; ++i) {
        e[i] = extent(visible[i].mode, visible[i].b0, visible[i].b1);
        sum_e += e[i];
        sum_p += visible[i].measure.preferred;
        sum_m += visible[i].measure.minimum;
    }
    const int64_t a = int64_t(length) - sum_e;
    if (a < 1) {
        for (size_t i = 0; i < n; ++i)
            out[i] = Range{x, 0};
        return;
    }

    std::vector<int64_t> w(n);
    if (a > sum_m) {
        int64_t grow;
        int64_t spare;
        if (a <= sum_p) {
            grow = a - sum_m;
            spare = 0;
        } else {
            grow = sum_p - sum_m;
            spare = a - sum_p;
        }
        for (size_t i = 0; i < n; ++i)
            w[i] = visible[i].measure.minimum;

        // Even passes over the children still below their preferred size; what a child cannot
        // take goes round again.
        int64_t amount = grow;
        std::vector<size_t> open;
        while (amount > 0) {
            open.clear();
            for (size_t i = 0; i < n; ++i)
                if (w[i] < visible[i].measure.preferred)
                    open.push_back(i);
            if (open.empty())
                break;
            const int64_t count = static_cast<int64_t>(open.size());
            int64_t returned = 0;
            for (int64_t k = 1; k <= count; ++k) {
                size_t i = open[static_cast<size_t>(k - 1)];
                int64_t share = mul_div(k, amount, count) - mul_div(k - 1, amount, count);
                int64_t room_left = int64_t(visible[i].measure.preferred) - w[i];
                if (share > room_left) {
                    returned += share - room_left;
                    share = room_left;
                }
                w[i] += share;
            }
            amount = returned;
        }

        // Spare room by ratio, cumulatively truncated so that the shares add up exactly.
        int64_t total = 0;
        for (size_t i = 0; i < n; ++i)
            if (visible[i].ratio > 0)
                total += visible[i].ratio;
        if (spare > 0 && total > 0) {
            int64_t running = 0;
            for (size_t i = 0; i < n; ++i) {
                if (visible[i].ratio <= 0)
                    continue;
                int64_t before = running;
                running += visible[i].ratio;
                w[i] += mul_div(running, spare, total) - mul_div(before, spare, total);
            }
        }
    } else {
        // Too little room: shares of it by minimum size.
        int64_t running = 0;
        for (size_t i = 0; i < n; ++i) {
            int64_t before = running;
            running += visible[i].measure.minimum;
            w[i] = mul_div(running, a, sum_m) - mul_div(before, a, sum_m);
        }
    }

    int64_t cursor = x;
    for (size_t i = 0; i < n; ++i) {
        const LayoutItem& c = visible[i];
        int32_t slot = clamp32(w[i] + e[i]);
        int32_t size = child_size(c.mode, c.b0, clamp32(w[i]), c.b1, slot);
        int32_t offset = child_offset(c.mode, c.b0, size, c.b1, slot);
        out[i] = Range{clamp32(cursor + offset), size};
        cursor += slot;
    }
}

} // namespace layout

} // namespace skin
