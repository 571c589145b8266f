#pragma once

#include "kestrel/BufferString.h"
#include "text/StyleMarkup.h"

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

} // namespace Kestrel
