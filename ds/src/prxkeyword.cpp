// The keyword table: the words of prxkeyword.def by number for the reader's
// dispatch, and keyword_lookup over them in byte order.
#include <array>

#include "prxlexint.h"
#include "prxmsg.h"

namespace {

struct keyword_word {
    const char* word;
    int32_t len;
    int32_t number;  // signed keyword number
    bool deprecated; // an upper-case synonym: warns before it answers
};

constexpr int32_t cstr_len(const char* s)
{
    int32_t n = 0;
    while (s[n])
        n++;
    return n;
}

// The number of a keyword by its enum name, with the sign of its row.
constexpr int32_t signed_number_of(keyword_id id)
{
#define PRX_KEYWORD(kid, word, number, group, op) \
    if (id == kid)                               \
        return number;
#define PRX_KEYWORD_SYNONYM(word, kid)
#include "prxkeyword.def"
#undef PRX_KEYWORD
#undef PRX_KEYWORD_SYNONYM
    return 0;
}

constexpr keyword_word keyword_words[] = {
#define PRX_KEYWORD(id, word, number, group, op) {word, cstr_len(word), number, false},
#define PRX_KEYWORD_SYNONYM(word, id) {word, cstr_len(word), signed_number_of(id), true},
#include "prxkeyword.def"
#undef PRX_KEYWORD
#undef PRX_KEYWORD_SYNONYM
};
constexpr int32_t WORD_COUNT = static_cast<int32_t>(sizeof keyword_words / sizeof keyword_words[0]);
static_assert(WORD_COUNT == 245 + 6);

constexpr int32_t count_with_sign(bool positive)
{
    int32_t n = 0;
    for (const keyword_word& k : keyword_words)
        if (!k.deprecated && (k.number > 0) == positive)
            n++;
    return n;
}
static_assert(count_with_sign(true) == 58 && count_with_sign(false) == 187);

// Byte order of two words; shorter first on a common prefix.
constexpr int32_t compare_words(const char* a, int32_t alen, const char* b, int32_t blen)
{
    int32_t n = alen < blen ? alen : blen;
    for (int32_t i = 0; i < n; i++) {
        auto ca = static_cast<uint8_t>(a[i]);
        auto cb = static_cast<uint8_t>(b[i]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return alen == blen ? 0 : alen < blen ? -1 : 1;
}

// The rows of keyword_words in byte order of their words.
constexpr std::array<uint8_t, WORD_COUNT> sorted_order()
{
    std::array<uint8_t, WORD_COUNT> order{};
    for (int32_t i = 0; i < WORD_COUNT; i++)
        order[i] = static_cast<uint8_t>(i);
    for (int32_t i = 1; i < WORD_COUNT; i++) {
        uint8_t x = order[i];
        int32_t j = i - 1;
        while (j >= 0 && compare_words(keyword_words[order[j]].word, keyword_words[order[j]].len, keyword_words[x].word,
                                       keyword_words[x].len) > 0) {
            order[j + 1] = order[j];
            j--;
        }
        order[j + 1] = x;
    }
    return order;
}
constexpr std::array<uint8_t, WORD_COUNT> by_word = sorted_order();

constexpr bool words_distinct()
{
    for (int32_t i = 1; i < WORD_COUNT; i++) {
        const keyword_word& a = keyword_words[by_word[i - 1]];
        const keyword_word& b = keyword_words[by_word[i]];
        if (compare_words(a.word, a.len, b.word, b.len) >= 0)
            return false;
    }
    return true;
}
static_assert(words_distinct());

// The entries by keyword number; gaps stay empty.
constexpr std::array<keyword_entry, KEY_MAX + 1> by_number()
{
    std::array<keyword_entry, KEY_MAX + 1> t{};
#define PRX_KEYWORD(id, word, number, group, op) t[id] = keyword_entry{word, number, group, op};
#define PRX_KEYWORD_SYNONYM(word, id)
#include "prxkeyword.def"
#undef PRX_KEYWORD
#undef PRX_KEYWORD_SYNONYM
    return t;
}
constexpr std::array<keyword_entry, KEY_MAX + 1> keyword_entries = by_number();

constexpr bool gaps_are(std::initializer_list<int32_t> gaps)
{
    for (int32_t n : gaps)
        if (keyword_entries[n].word)
            return false;
    return !keyword_entries[0].word;
}
static_assert(gaps_are({11, 12, 13, 15, 16, 17}));

}  // namespace

const keyword_entry* keyword_entry_of(int32_t n)
{
    if (n < 1 || n > KEY_MAX || !keyword_entries[n].word)
        return nullptr;
    return &keyword_entries[n];
}

int32_t keyword_lookup(PERLGCB* gcb, const char* word, int32_t length)
{
    // Only the given bytes are the word: callers may pass a run inside a
    // longer text.
    if (length <= 0)
        return 0;
    int32_t lo = 0;
    int32_t hi = WORD_COUNT - 1;
    while (lo <= hi) {
        int32_t mid = lo + (hi - lo) / 2;
        const keyword_word& k = keyword_words[by_word[mid]];
        int32_t c = compare_words(k.word, k.len, word, length);
        if (c == 0) {
            if (k.deprecated)
                warn_deprecated(gcb, k.word);
            return k.number;
        }
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return 0;
}

void warn_deprecated(PERLGCB* gcb, const char* text)
{
    if (warn_enabled(gcb, WARN_DEPRECATED))
        category_warning(gcb, WARN_DEPRECATED, "Use of %s is deprecated", text);
}
