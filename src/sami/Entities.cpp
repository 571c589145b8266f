#include "sami/Entities.h"

#include "text/Numbers.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <optional>

namespace Kestrel {
namespace {

struct EntityEntry {
  const char* name;
  uint32_t codePoint;
};

// The three entity sets of HTML 4.01, in the order the standard lists them, then "apos",
// which subtitle authors write although HTML 4.01 lacks it.
// clang-format off
constexpr EntityEntry kEntities[] = {
    // Latin-1 characters
    {"nbsp", 160}, {"iexcl", 161}, {"cent", 162}, {"pound", 163}, {"curren", 164}, {"yen", 165},
    {"brvbar", 166}, {"sect", 167}, {"uml", 168}, {"copy", 169}, {"ordf", 170}, {"laquo", 171},
    {"not", 172}, {"shy", 173}, {"reg", 174}, {"macr", 175}, {"deg", 176}, {"plusmn", 177},
    {"sup2", 178}, {"sup3", 179}, {"acute", 180}, {"micro", 181}, {"para", 182}, {"middot", 183},
    {"cedil", 184}, {"sup1", 185}, {"ordm", 186}, {"raquo", 187}, {"frac14", 188}, {"frac12", 189},
    {"frac34", 190}, {"iquest", 191}, {"Agrave", 192}, {"Aacute", 193}, {"Acirc", 194},
    {"Atilde", 195}, {"Auml", 196}, {"Aring", 197}, {"AElig", 198}, {"Ccedil", 199},
    {"Egrave", 200}, {"Eacute", 201}, {"Ecirc", 202}, {"Euml", 203}, {"Igrave", 204},
    {"Iacute", 205}, {"Icirc", 206}, {"Iuml", 207}, {"ETH", 208}, {"Ntilde", 209}, {"Ograve", 210},
    {"Oacute", 211}, {"Ocirc", 212}, {"Otilde", 213}, {"Ouml", 214}, {"times", 215},
    {"Oslash", 216}, {"Ugrave", 217}, {"Uacute", 218}, {"Ucirc", 219}, {"Uuml", 220},
    {"Yacute", 221}, {"THORN", 222}, {"szlig", 223}, {"agrave", 224}, {"aacute", 225},
    {"acirc", 226}, {"atilde", 227}, {"auml", 228}, {"aring", 229}, {"aelig", 230}, {"ccedil", 231},
    {"egrave", 232}, {"eacute", 233}, {"ecirc", 234}, {"euml", 235}, {"igrave", 236},
    {"iacute", 237}, {"icirc", 238}, {"iuml", 239}, {"eth", 240}, {"ntilde", 241}, {"ograve", 242},
    {"oacute", 243}, {"ocirc", 244}, {"otilde", 245}, {"ouml", 246}, {"divide", 247},
    {"oslash", 248}, {"ugrave", 249}, {"uacute", 250}, {"ucirc", 251}, {"uuml", 252},
    {"yacute", 253}, {"thorn", 254}, {"yuml", 255},
    // markup-significant and internationalisation characters
    {"quot", 34}, {"amp", 38}, {"lt", 60}, {"gt", 62}, {"OElig", 338}, {"oelig", 339},
    {"Scaron", 352}, {"scaron", 353}, {"Yuml", 376}, {"circ", 710}, {"tilde", 732}, {"ensp", 8194},
    {"emsp", 8195}, {"thinsp", 8201}, {"zwnj", 8204}, {"zwj", 8205}, {"lrm", 8206}, {"rlm", 8207},
    {"ndash", 8211}, {"mdash", 8212}, {"lsquo", 8216}, {"rsquo", 8217}, {"sbquo", 8218},
    {"ldquo", 8220}, {"rdquo", 8221}, {"bdquo", 8222}, {"dagger", 8224}, {"Dagger", 8225},
    {"permil", 8240}, {"lsaquo", 8249}, {"rsaquo", 8250}, {"euro", 8364},
    // symbols, mathematical symbols and Greek letters
    {"fnof", 402}, {"Alpha", 913}, {"Beta", 914}, {"Gamma", 915}, {"Delta", 916}, {"Epsilon", 917},
    {"Zeta", 918}, {"Eta", 919}, {"Theta", 920}, {"Iota", 921}, {"Kappa", 922}, {"Lambda", 923},
    {"Mu", 924}, {"Nu", 925}, {"Xi", 926}, {"Omicron", 927}, {"Pi", 928}, {"Rho", 929},
    {"Sigma", 931}, {"Tau", 932}, {"Upsilon", 933}, {"Phi", 934}, {"Chi", 935}, {"Psi", 936},
    {"Omega", 937}, {"alpha", 945}, {"beta", 946}, {"gamma", 947}, {"delta", 948}, {"epsilon", 949},
    {"zeta", 950}, {"eta", 951}, {"theta", 952}, {"iota", 953}, {"kappa", 954}, {"lambda", 955},
    {"mu", 956}, {"nu", 957}, {"xi", 958}, {"omicron", 959}, {"pi", 960}, {"rho", 961},
    {"sigmaf", 962}, {"sigma", 963}, {"tau", 964}, {"upsilon", 965}, {"phi", 966}, {"chi", 967},
    {"psi", 968}, {"omega", 969}, {"thetasym", 977}, {"upsih", 978}, {"piv", 982}, {"bull", 8226},
    {"hellip", 8230}, {"prime", 8242}, {"Prime", 8243}, {"oline", 8254}, {"frasl", 8260},
    {"weierp", 8472}, {"image", 8465}, {"real", 8476}, {"trade", 8482}, {"alefsym", 8501},
    {"larr", 8592}, {"uarr", 8593}, {"rarr", 8594}, {"darr", 8595}, {"harr", 8596}, {"crarr", 8629},
    {"lArr", 8656}, {"uArr", 8657}, {"rArr", 8658}, {"dArr", 8659}, {"hArr", 8660},
    {"forall", 8704}, {"part", 8706}, {"exist", 8707}, {"empty", 8709}, {"nabla", 8711},
    {"isin", 8712}, {"notin", 8713}, {"ni", 8715}, {"prod", 8719}, {"sum", 8721}, {"minus", 8722},
    {"lowast", 8727}, {"radic", 8730}, {"prop", 8733}, {"infin", 8734}, {"ang", 8736},
    {"and", 8743}, {"or", 8744}, {"cap", 8745}, {"cup", 8746}, {"int", 8747}, {"there4", 8756},
    {"sim", 8764}, {"cong", 8773}, {"asymp", 8776}, {"ne", 8800}, {"equiv", 8801}, {"le", 8804},
    {"ge", 8805}, {"sub", 8834}, {"sup", 8835}, {"nsub", 8836}, {"sube", 8838}, {"supe", 8839},
    {"oplus", 8853}, {"otimes", 8855}, {"perp", 8869}, {"sdot", 8901}, {"lceil", 8968},
    {"rceil", 8969}, {"lfloor", 8970}, {"rfloor", 8971}, {"lang", 9001}, {"rang", 9002},
    {"loz", 9674}, {"spades", 9824}, {"clubs", 9827}, {"hearts", 9829}, {"diams", 9830},
    // not in HTML 4.01
    {"apos", 39},
};
// clang-format on

// HTML's legacy references, the names a document may write without their ";" ("&nbsp"
// for "&nbsp;"): the Latin-1 characters, the four markup characters, and the capitals AMP,
// COPY, GT, LT, QUOT and REG. The table has no capitals, so those stay as written, as they
// do with a ";". Sorted, for the search.
// clang-format off
constexpr std::string_view kBareNames[] = {
    "AElig", "AMP", "Aacute", "Acirc", "Agrave", "Aring", "Atilde", "Auml", "COPY", "Ccedil", "ETH",
    "Eacute", "Ecirc", "Egrave", "Euml", "GT", "Iacute", "Icirc", "Igrave", "Iuml", "LT", "Ntilde",
    "Oacute", "Ocirc", "Ograve", "Oslash", "Otilde", "Ouml", "QUOT", "REG", "THORN", "Uacute",
    "Ucirc", "Ugrave", "Uuml", "Yacute", "aacute", "acirc", "acute", "aelig", "agrave", "amp",
    "aring", "atilde", "auml", "brvbar", "ccedil", "cedil", "cent", "copy", "curren", "deg",
    "divide", "eacute", "ecirc", "egrave", "eth", "euml", "frac12", "frac14", "frac34", "gt",
    "iacute", "icirc", "iexcl", "igrave", "iquest", "iuml", "laquo", "lt", "macr", "micro",
    "middot", "nbsp", "not", "ntilde", "oacute", "ocirc", "ograve", "ordf", "ordm", "oslash",
    "otilde", "ouml", "para", "plusmn", "pound", "quot", "raquo", "reg", "sect", "shy", "sup1",
    "sup2", "sup3", "szlig", "thorn", "times", "uacute", "ucirc", "ugrave", "uml", "uuml", "yacute",
    "yen", "yuml",
};
// clang-format on
static_assert(std::is_sorted(std::begin(kBareNames), std::end(kBareNames)));
constexpr std::size_t kLongestBareName = 6;

constexpr bool isAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The length of the bare name at name (the bytes after "&", up to end), or 0 when the
// letters and digits there are not one of kBareNames. What follows them can then not
// continue a name, so "&nbspx" is no reference.
std::size_t bareNameLength(const char* name, const char* end) {
  std::size_t length = 0;
  while (name + length < end && isAsciiLetterOrDigit(name[length]))
    if (++length > kLongestBareName)
      return 0;
  if (length < 2)
    return 0;
  const std::string_view found(name, length);
  return std::binary_search(std::begin(kBareNames), std::end(kBareNames), found) ? length : 0;
}

// Decodes one numeric reference ("#" and the bytes up to ";"): the number as sscanf's "%x"
// (after "#x" or "#X") or "%u" (after "#") reads it from those bytes.
std::optional<uint32_t> decodeNumber(const char* name, std::size_t length) {
  if (name[1] == 'x' || name[1] == 'X')
    return scanUnsigned(name + 2, name + length, /*base=*/16);
  return scanUnsigned(name + 1, name + length, /*base=*/10);
}

// Rewrites the length bytes at data in place and returns the decoded length; findName
// gives the code point of a name (the bytes between "&" and ";", or of a bare name; no "#"
// first) or nothing. A reference is at least four bytes ("&", two name bytes, ";") and its
// character at most four. A bare name is at least three bytes ("&lt"): its character is
// written only if it is no longer (always so for the standard names, which are Latin-1), so
// the write cursor never overtakes the read cursor. Bytes past the decoded length are left
// as they were.
template <class FindName>
std::size_t decodeReferences(char* data, std::size_t length, const FindName& findName) {
  // Offsets below are into the original text; the decoded text so far ends at out.
  std::size_t out = 0;
  std::size_t copied = 0; // original bytes before this are already written
  // The first ";" at or after the current "&"; found once and reused while it lies ahead,
  // so many "&" before a distant ";" (or none) cost one search.
  std::size_t semi = 0;
  bool semiSearched = false;
  bool semiMissing = false;

  const auto findFrom = [&](std::size_t from, char c) -> std::size_t {
    if (from >= length)
      return length;
    const void* hit = std::memchr(data + from, c, length - from);
    return hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : length;
  };

  // The length of the rewritten text shrinks as references are replaced, but by as much
  // as the "&" moves forward, so "two bytes follow" reads the same on original offsets.
  // A reference closed by a ";" needs three; "&lt" at the end is the shortest bare one.
  for (std::size_t pos = findFrom(0, '&'); pos + 2 < length; pos = findFrom(pos, '&')) {
    if (!semiMissing && (!semiSearched || semi < pos)) {
      semi = findFrom(pos, ';');
      semiSearched = true;
      semiMissing = semi == length;
    }
    const char* name = data + pos + 1;
    std::optional<uint32_t> codePoint;
    std::size_t last = semi; // the reference's last byte
    if (!semiMissing && semi - pos >= 3) {
      const std::size_t nameLength = semi - pos - 1;
      codePoint = name[0] == '#' ? decodeNumber(name, nameLength) : findName(name, nameLength);
    }
    // A bare name only where the ";" closes no reference: in "&nbsp &amp;" the first "&"
    // takes the ";", fails, and is then read as "&nbsp".
    if (!codePoint) {
      if (const std::size_t bare = bareNameLength(name, data + length); bare != 0) {
        codePoint = findName(name, bare);
        last = pos + bare;
      }
    }
    char bytes[4];
    const int32_t count = codePoint ? codePointToUtf8(*codePoint, bytes) : 0;
    if (!codePoint || static_cast<std::size_t>(count) > last + 1 - pos) {
      ++pos;
      continue;
    }
    std::memmove(data + out, data + copied, pos - copied);
    out += pos - copied;
    std::memcpy(data + out, bytes, static_cast<std::size_t>(count));
    out += static_cast<std::size_t>(count);
    copied = last + 1;
    // The search goes on one byte after where the character was written. When the
    // character has bytes, those are never an "&" and the search lands on the byte after
    // the reference; when it has none (code point 0), that byte is skipped.
    pos = count > 0 ? last + 1 : last + 2;
  }
  if (copied == 0)
    return length;
  std::memmove(data + out, data + copied, length - copied);
  return out + (length - copied);
}

std::size_t longestName(const EntityTable& table) {
  std::size_t longest = 0;
  for (const auto& entry : table)
    longest = std::max(longest, entry.first.view().size());
  return longest;
}

} // namespace

EntityIndex::EntityIndex(const EntityTable& table) : longestName_(longestName(table)) {
  names_.reserve(table.size());
  for (const auto& [name, codePoint] : table)
    names_.emplace(name.view(), codePoint);
}

const EntityIndex& EntityIndex::standard() {
  // Straight from the static list: the names are string literals, so no table is kept.
  static const EntityIndex index = [] {
    EntityIndex built;
    built.names_.reserve(std::size(kEntities));
    for (const EntityEntry& entry : kEntities) {
      const std::string_view name(entry.name);
      built.names_.emplace(name, entry.codePoint);
      built.longestName_ = std::max(built.longestName_, name.size());
    }
    return built;
  }();
  return index;
}

std::size_t EntityIndex::decode(char* text, std::size_t length) const {
  return decodeReferences(text, length, [this](const char* name, std::size_t nameLength) {
    // No name in the table is longer; this also keeps a text of many "&" before one
    // distant ";" linear.
    if (nameLength > longestName_)
      return std::optional<uint32_t>();
    const auto found = names_.find(std::string_view(name, nameLength));
    // The table compares names up to a NUL, so a name holding one is never there.
    if (found == names_.end() || std::memchr(name, '\0', nameLength) != nullptr)
      return std::optional<uint32_t>();
    return std::optional<uint32_t>(found->second);
  });
}

EntityTable buildEntityTable() {
  EntityTable table;
  for (const EntityEntry& entry : kEntities)
    table.emplace(BufferString(entry.name), entry.codePoint);
  return table;
}

int32_t codePointToUtf8(uint32_t codePoint, char out[4]) {
  if (codePoint == 0)
    return 0;
  if (codePoint > 0x10FFFF)
    codePoint = 0xFFFD;
  const auto byte = [](uint32_t bits) { return static_cast<char>(static_cast<uint8_t>(bits)); };
  if (codePoint < 0x80) {
    out[0] = byte(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = byte(0xC0 | (codePoint >> 6));
    out[1] = byte(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    // Surrogate values are written like any other; the text is handed on as it was given.
    out[0] = byte(0xE0 | (codePoint >> 12));
    out[1] = byte(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = byte(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | (codePoint >> 18));
  out[1] = byte(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = byte(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = byte(0x80 | (codePoint & 0x3F));
  return 4;
}

void decodeEntities(BufferString& text, const EntityTable& table) {
  if (text.data == nullptr || text.length <= 0)
    return;
  // The longest name is found only once a named reference needs it.
  std::optional<std::size_t> longest;
  const auto length = static_cast<std::size_t>(text.length);
  const std::size_t decoded =
      decodeReferences(text.data, length, [&](const char* name, std::size_t nameLength) {
        if (!longest)
          longest = longestName(table);
        // Building a key for a longer run would make many "&" before one distant ";"
        // quadratic.
        if (nameLength > *longest || std::memchr(name, '\0', nameLength) != nullptr)
          return std::optional<uint32_t>();
        const auto found = table.find(BufferString(name, static_cast<int32_t>(nameLength)));
        if (found == table.end())
          return std::optional<uint32_t>();
        return std::optional<uint32_t>(found->second);
      });
  if (decoded == length)
    return;
  text.data[decoded] = '\0';
  text.length = static_cast<int32_t>(decoded);
}

} // namespace Kestrel
