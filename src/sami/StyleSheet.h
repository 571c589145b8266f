#pragma once

#include "kestrel/BufferString.h"
#include "text/StyleMarkup.h"

#include <functional>
#include <map>

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

/// Hands each rule of one style sheet, in the order written, to addRule, which stores it
/// as table's insert_or_assign would. False only when the working copy can't be allocated
/// (no rule handed on).
bool parseStyleSheet(
    const char* text,
    const std::function<void(BufferString&& selector, StyleClass&& rule)>& addRule);

} // namespace Kestrel
