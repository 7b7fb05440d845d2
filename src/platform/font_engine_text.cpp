// Bidirectional runs and grapheme clusters through ICU.

#include "platform/font_engine.h"
#include "platform/utf.h"

#include <algorithm>
#include <climits>
#include <unicode/ubidi.h>
#include <unicode/ubrk.h>

namespace platform {

namespace {

// Whether a code unit may start right-to-left text or change the embedding: Hebrew, Arabic,
// Syriac, Thaana, NKo and the other scripts up to U+08FF, their presentation forms, the
// high surrogates of the right-to-left planes' blocks, and the explicit marks and controls.
bool may_be_right_to_left(char16_t c) {
    return (c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) ||
           (c >= 0xFE70 && c <= 0xFEFF) || c == 0xD802 || c == 0xD803 || c == 0xD83A ||
           c == 0xD83B || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

struct BidiHolder {
    UBiDi* bidi{ubidi_open()};
    ~BidiHolder() { ubidi_close(bidi); }
};

struct BreakHolder {
    explicit BreakHolder(UBreakIteratorType type) {
        UErrorCode status = U_ZERO_ERROR;
        iterator = ubrk_open(type, "", nullptr, 0, &status);
        if (U_FAILURE(status))
            iterator = nullptr;
    }
    ~BreakHolder() {
        if (iterator)
            ubrk_close(iterator);
    }
    BreakHolder(const BreakHolder&) = delete;
    BreakHolder& operator=(const BreakHolder&) = delete;

    // The boundaries ICU finds in the text, or false.
    bool boundaries(std::u16string_view text, std::vector<size_t>& out) {
        out.clear();
        if (!iterator || text.size() >= size_t(INT32_MAX))
            return false;
        UErrorCode status = U_ZERO_ERROR;
        ubrk_setText(iterator, text.data(), static_cast<int32_t>(text.size()), &status);
        if (U_FAILURE(status))
            return false;
        for (int32_t at = ubrk_first(iterator); at != UBRK_DONE; at = ubrk_next(iterator))
            out.push_back(size_t(at));
        // The iterator points into the text; it is not kept past this call.
        static const UChar nothing[1] = {0};
        ubrk_setText(iterator, nothing, 0, &status);
        return !out.empty() && out.back() == text.size();
    }

    UBreakIterator* iterator{nullptr};
};

// Scripts written without spaces between words.
bool needs_dictionary_breaks(char16_t c) {
    return (c >= 0x0E00 && c <= 0x0EFF) || (c >= 0x1000 && c <= 0x109F) ||
           (c >= 0x1780 && c <= 0x17FF) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFF00 && c <= 0xFFEF) || (c >= 0xD840 && c <= 0xD8BF);
}

bool is_break_space(char16_t c) {
    return c == u' ' || c == u'\t';
}

} // namespace

void directional_runs(std::u16string_view text, TextDirection direction,
                      std::vector<DirectionalRun>& runs, bool& right_to_left_paragraph) {
    runs.clear();
    right_to_left_paragraph = direction == TextDirection::RightToLeft;
    if (text.empty())
        return;
    bool simple = direction != TextDirection::RightToLeft && text.size() < size_t(INT32_MAX);
    for (size_t i = 0; simple && i < text.size(); ++i)
        simple = !may_be_right_to_left(text[i]);
    thread_local BidiHolder holder;
    if (!simple && holder.bidi && text.size() < size_t(INT32_MAX)) {
        UBiDiLevel level = direction == TextDirection::Auto          ? UBIDI_DEFAULT_LTR
                           : direction == TextDirection::RightToLeft ? 1
                                                                     : 0;
        UErrorCode status = U_ZERO_ERROR;
        ubidi_setPara(holder.bidi, text.data(), static_cast<int32_t>(text.size()), level, nullptr,
                      &status);
        int32_t count = U_SUCCESS(status) ? ubidi_countRuns(holder.bidi, &status) : 0;
        if (U_SUCCESS(status) && count > 0) {
            right_to_left_paragraph = (ubidi_getParaLevel(holder.bidi) & 1) != 0;
            for (int32_t r = 0; r < count; ++r) {
                int32_t start = 0, length = 0;
                UBiDiDirection run = ubidi_getVisualRun(holder.bidi, r, &start, &length);
                runs.push_back({size_t(start), size_t(start) + size_t(length), run == UBIDI_RTL});
            }
            return;
        }
    }
    runs.push_back({0, text.size(), right_to_left_paragraph});
}

void grapheme_boundaries(std::u16string_view text, std::vector<size_t>& boundaries) {
    boundaries.clear();
    // Below U+0300 every code unit is a character of its own, except CR LF.
    bool simple = true;
    for (size_t i = 0; simple && i < text.size(); ++i)
        simple =
            text[i] < 0x0300 && !(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n');
    thread_local BreakHolder holder(UBRK_CHARACTER);
    if (!simple && holder.boundaries(text, boundaries))
        return;
    boundaries.clear();
    // Fallback: code points, never splitting a surrogate pair.
    for (size_t i = 0; i < text.size(); ++i) {
        bool low_after_high = i > 0 && is_pair_at(text, i - 1);
        bool lf_after_cr = i > 0 && text[i] == u'\n' && text[i - 1] == u'\r';
        if (!low_after_high && !lf_after_cr)
            boundaries.push_back(i);
    }
    boundaries.push_back(text.size());
}

void line_breaks(std::u16string_view text, std::vector<size_t>& breaks) {
    breaks.clear();
    bool spaced = std::none_of(text.begin(), text.end(), needs_dictionary_breaks);
    thread_local BreakHolder holder(UBRK_LINE);
    if (!spaced && holder.boundaries(text, breaks)) {
        breaks.erase(breaks.begin()); // 0
        return;
    }
    breaks.clear();
    for (size_t i = 1; i < text.size(); ++i)
        if (is_break_space(text[i - 1]) && !is_break_space(text[i]))
            breaks.push_back(i);
    breaks.push_back(text.size());
}

} // namespace platform
