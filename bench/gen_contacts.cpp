// SPDX-License-Identifier: GPL-3.0-or-later
// Writes a contact file of N records as the program itself writes them:  "name","address" CR LF.
// Same N, same bytes, on every machine: the numbers in the README stay comparable.
//
//   velmora_bench_gen N OUT
//
// Names are drawn from lists that mix plain ASCII with Latin accents, Polish, Nordic, Greek,
// Cyrillic and CJK names (UTF-8); about one in twenty is written "Last, First" or carries
// ", Jr." so quoted commas are exercised; addresses are ASCII, as the service's are.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Part {
    const char* shown;  // UTF-8 as it appears in the list
    const char* handle; // ASCII, for the address
};

const Part kFirst[] = {
    {"James", "james"},
    {"Mary", "mary"},
    {"John", "john"},
    {"Patricia", "patricia"},
    {"Robert", "robert"},
    {"Jennifer", "jennifer"},
    {"Michael", "michael"},
    {"Linda", "linda"},
    {"William", "william"},
    {"Elizabeth", "liz"},
    {"David", "david"},
    {"Barbara", "barbara"},
    {"Richard", "richard"},
    {"Susan", "susan"},
    {"Joseph", "joe"},
    {"Jessica", "jessica"},
    {"Thomas", "tom"},
    {"Sarah", "sarah"},
    {"Charles", "charles"},
    {"Karen", "karen"},
    {"Christopher", "chris"},
    {"Nancy", "nancy"},
    {"Daniel", "dan"},
    {"Lisa", "lisa"},
    {"Matthew", "matt"},
    {"Betty", "betty"},
    {"Anthony", "tony"},
    {"Sandra", "sandra"},
    {"Mark", "mark"},
    {"Ashley", "ashley"},
    {"Steven", "steve"},
    {"Kimberly", "kim"},
    {"Paul", "paul"},
    {"Emily", "emily"},
    {"Andrew", "andrew"},
    {"Donna", "donna"},
    {"Kevin", "kevin"},
    {"Michelle", "michelle"},
    {"Brian", "brian"},
    {"Laura", "laura"},
    {"Ahmed", "ahmed"},
    {"Priya", "priya"},
    {"Wei", "wei"},
    {"Yuki", "yuki"},
    {"Olu", "olu"},
    {"Ana", "ana"},
    {"Jos\xC3\xA9", "jose"},
    {"Zo\xC3\xAB", "zoe"},
    {"Bj\xC3\xB6rn", "bjorn"},
    {"Fran\xC3\xA7ois", "francois"},
    {"Ren\xC3\xA9\x65", "renee"},
    {"S\xC3\xB8ren", "soren"},
    {"\xC5\x81ukasz", "lukasz"},
    {"Ma\xC5\x82gorzata", "gosia"},
    {"J\xC3\xBCrgen", "juergen"},
    {"In\xC3\xA9s", "ines"},
    {"\xC3\x81lvaro", "alvaro"},
    {"Chlo\xC3\xA9", "chloe"},
    {"\xD0\x94\xD0\xBC\xD0\xB8\xD1\x82\xD1\x80\xD0\xB8\xD0\xB9", "dmitry"},
    {"\xCE\x95\xCE\xBB\xCE\xAD\xCE\xBD\xCE\xB7", "eleni"},
    {"Siobh\xC3\xA1n", "siobhan"},
    {"Nguy\xE1\xBB\x85n", "nguyen"},
};

const Part kLast[] = {
    {"Smith", "smith"},
    {"Johnson", "johnson"},
    {"Williams", "williams"},
    {"Brown", "brown"},
    {"Jones", "jones"},
    {"Garcia", "garcia"},
    {"Miller", "miller"},
    {"Davis", "davis"},
    {"Rodriguez", "rodriguez"},
    {"Martinez", "martinez"},
    {"Hernandez", "hernandez"},
    {"Lopez", "lopez"},
    {"Gonzalez", "gonzalez"},
    {"Wilson", "wilson"},
    {"Anderson", "anderson"},
    {"Thomas", "thomas"},
    {"Taylor", "taylor"},
    {"Moore", "moore"},
    {"Jackson", "jackson"},
    {"Martin", "martin"},
    {"Lee", "lee"},
    {"Perez", "perez"},
    {"Thompson", "thompson"},
    {"White", "white"},
    {"Harris", "harris"},
    {"Sanchez", "sanchez"},
    {"Clark", "clark"},
    {"Ramirez", "ramirez"},
    {"Lewis", "lewis"},
    {"Robinson", "robinson"},
    {"Walker", "walker"},
    {"Young", "young"},
    {"O'Brien", "obrien"},
    {"McAllister", "mcallister"},
    {"van der Berg", "vanderberg"},
    {"Nakamura", "nakamura"},
    {"Kowalski", "kowalski"},
    {"Rossi", "rossi"},
    {"Schmidt", "schmidt"},
    {"Dubois", "dubois"},
    {"Okafor", "okafor"},
    {"Patel", "patel"},
    {"Kim", "kim"},
    {"Chen", "chen"},
    {"M\xC3\xBCller", "mueller"},
    {"Dvo\xC5\x99\xC3\xA1k", "dvorak"},
    {"Nu\xC3\xB1\x65z", "nunez"},
    {"Gr\xC3\xB8nlund", "gronlund"},
    {"Wi\xC5\x9Bniewski", "wisniewski"},
    {"Bront\xC3\xAB", "bronte"},
    {"\xC3\x85kesson", "akesson"},
    {"Fran\xC3\xA7\x61is", "francais"},
    {"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2", "ivanov"},
    {"\xCE\xA0\xCE\xB1\xCF\x80\xCE\xB1\xCE\xB4\xCF\x8C\xCF\x80\xCE\xBF\xCF\x85\xCE\xBB\xCE\xBF\xCF\x82",
     "papadopoulos"},
};

// Full names written in their own script, without an ASCII surname.
const Part kWhole[] = {
    {"\xE7\x8E\x8B\xE8\x8A\xB3", "wangfang"},                       // 王芳
    {"\xE6\x9D\x8E\xE5\xA8\x9C", "lina"},                           // 李娜
    {"\xE7\x94\xB0\xE4\xB8\xAD\xE5\xA4\xAA\xE9\x83\x8E", "tanaka"}, // 田中太郎
    {"\xEA\xB9\x80\xEB\xAF\xBC\xEC\xA4\x80", "minjun"},             // 김민준
};

const char* const kDomains[] = {
    "hotmail.com", "msn.com", "passport.com",     "yahoo.com",   "gmail.com",
    "example.org", "aol.com", "mail.example.net", "outlook.com", "live.co.uk",
};

template <class T, size_t N> constexpr size_t countOf(const T (&)[N]) {
    return N;
}

// The lists above start with their ASCII entries; most people in a list have plain names.
constexpr uint32_t kAsciiFirst = 46;
constexpr uint32_t kAsciiLast = 44;

// splitmix64: small, fast, and the same sequence everywhere.
struct Rng {
    uint64_t s;
    uint64_t next() {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t below(uint32_t n) { return uint32_t(next() % n); }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s N OUT\n", argv[0]);
        return 2;
    }
    const long count = std::strtol(argv[1], nullptr, 10);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (count < 0 || !out) {
        std::perror(argv[2]);
        return 1;
    }
    static char buf[1 << 20];
    std::setvbuf(out, buf, _IOFBF, sizeof buf);

    Rng rng{0x56454C4D4F5241ull};
    std::string name, email;
    for (long i = 0; i < count; ++i) {
        name.clear();
        email.clear();
        const uint32_t shape = rng.below(100);
        const Part& f = kFirst[rng.below(rng.below(5) ? kAsciiFirst : countOf(kFirst))];
        const Part& l = kLast[rng.below(rng.below(5) ? kAsciiLast : countOf(kLast))];
        const char* first = f.handle;
        const char* last = l.handle;
        if (shape < 3) {
            const Part& w = kWhole[rng.below(countOf(kWhole))];
            name = w.shown;
            first = w.handle;
            last = "";
        } else if (shape < 7) {
            name.append(l.shown).append(", ").append(f.shown);
        } else if (shape < 9) {
            name.append(f.shown).append(" ").append(l.shown).append(", Jr.");
        } else if (shape < 15) {
            name.append(f.shown).append(" ").push_back(char('A' + rng.below(26)));
            name.append(". ").append(l.shown);
        } else if (shape < 18) {
            name = f.shown; // a first name only
        } else {
            name.append(f.shown).append(" ").append(l.shown);
        }

        email = first;
        if (*last) {
            static const char* const seps[] = {".", "_", "", "-"};
            email.append(seps[rng.below(4)]).append(last);
        }
        if (rng.below(3) != 0)
            email.append(std::to_string(rng.below(rng.below(2) ? 100 : 10000)));
        email.append("@").append(kDomains[rng.below(countOf(kDomains))]);

        std::fputc('"', out);
        std::fwrite(name.data(), 1, name.size(), out);
        std::fputs("\",\"", out);
        std::fwrite(email.data(), 1, email.size(), out);
        std::fputs("\"\r\n", out);
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
