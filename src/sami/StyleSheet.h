#pragma once

#include "kestrel/BufferString.h"
#include "text/StyleMarkup.h"

#include <cstddef>
#include <functional>
#include <map>
#include <span>
#include <string_view>

namespace Kestrel {

/// One rule of a style sheet with its rendered markup.
struct StyleClass {
  StyleProperties properties;
  BufferString openMarkup;
  BufferString closeMarkup;
};

/// Selector (lowercase: ".class", "#id" or an element name) to its rule.
using StyleClassTable = std::map<BufferString, StyleClass>;

/// Adds the rules of one style sheet (the comment text from "!--" up to where its '>' was)
/// to table. False only when the working copy can't be allocated (table unchanged).
bool parseStyleSheet(const char* text, StyleClassTable& table);

/// Receives one rule: its selector (lowercase) and its properties in the order written, a
/// later one of a name overriding an earlier one.
using StyleRuleSink =
    std::function<void(std::string_view selector, std::span<const StyleProperty> properties)>;

/// Hands each rule of one style sheet, in the order written, to addRule; a rule without
/// properties is not handed on. The views point into a working copy that lasts for the call
/// only. False only when the working copy can't be allocated (no rule handed on).
bool parseStyleSheet(const char* text, const StyleRuleSink& addRule);

/// The same over text itself, length bytes without a NUL followed by a NUL, for a caller
/// that no longer needs the text: the parse lowercases selectors and names where they lie
/// and ends the text after its last "}". Nothing is copied; the views point into text.
void parseStyleSheetInPlace(char* text, std::size_t length, const StyleRuleSink& addRule);

} // namespace Kestrel
