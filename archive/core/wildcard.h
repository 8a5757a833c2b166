// Case-insensitive wildcard matching of entry names against file patterns ("*" and "?").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// Both sides may hold "*" and "?"; ASCII letters compare ignoring case; one trailing "." on either side is
// ignored.
bool WildcardMatch(std::string_view a, std::string_view b);
// A name against one file pattern: the folder parts (when the pattern has a "/"), the file-name parts
// and their extensions must all match.
bool NameMatchesSpec(std::string_view name, std::string_view spec);
// A name passes when an entry of fileSpec selects it ("*.*" selects everything) and no entry of excludeSpec
// does. An empty name never passes; an empty fileSpec selects nothing.
bool SpecMatch(std::string_view name, const std::vector<std::string>& fileSpec,
               const std::vector<std::string>& excludeSpec);

}  // namespace varnok
