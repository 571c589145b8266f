#pragma once

#include "kestrel/BufferString.h"

#include <map>
#include <span>
#include <string>
#include <string_view>

namespace Kestrel {

/// Property name (lowercase) to value (as written).
using StyleProperties = std::map<BufferString, BufferString>;

/// One property of a rule as written: its name lowercased, its value as written.
struct StyleProperty {
  std::string_view name;
  std::string_view value;
};

/// Renders a rule's font, weight, style and decoration properties into the inline markup
/// placed before (openMarkup) and after (closeMarkup) a styled text.
void renderStyleMarkup(const StyleProperties& properties, BufferString& openMarkup,
                       BufferString& closeMarkup);

/// The same markup from a rule's properties in the order written, where a later property
/// of a name overrides an earlier one; replaces the contents of openMarkup and closeMarkup.
void renderStyleMarkup(std::span<const StyleProperty> properties, std::string& openMarkup,
                       std::string& closeMarkup);

} // namespace Kestrel
