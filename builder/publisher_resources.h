// What a publisher adds to a self-extractor as Windows resources: the icon,
// the version information, the manifest's execution level, the dialog's body
// text and the license text; written for the builder and read back for info.
#pragma once

#include "builder/icon_file.h"
#include "builder/pe_image.h"
#include "builder/resource_section.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The manifest's requestedExecutionLevel.
enum class ExecutionLevel { AsInvoker, HighestAvailable, RequireAdministrator };
const char* ExecutionLevelName(ExecutionLevel level);  // "asInvoker", ...

using VersionStrings = std::vector<std::pair<std::string, std::string>>;  // key, UTF-8 value

struct PublisherResources {
  std::vector<IconImage> icons;  // the icon's images; none: no icon
  VersionStrings versionStrings;  // none: no version information
  ExecutionLevel level = ExecutionLevel::AsInvoker;
  std::string bodyText;     // in the target code page; empty: the stub's own text
  std::string licenseText;  // in the target code page, CRLF line ends; empty: no license page
};

// The version key `key` names, spelt as Windows spells it ("productname" gives
// "ProductName"); empty for a key that is not one of the standard ones.
std::string CanonicalVersionKey(const std::string& key);

// The four 16-bit parts of a version text ("2.1", "2.1.0.5 beta", "3,0"):
// the leading numbers, separated by dots or commas, missing ones 0. False
// when a part is over 65535 or more than four are given.
bool ParseVersionNumber(const std::string& text, uint16_t (&parts_ret)[4]);

// The application manifest for a stub of `arch`: the requested execution
// level, the Windows versions it was made for (Vista to 11) and version 6 of
// the common controls.
std::string ApplicationManifest(StubArch arch, ExecutionLevel level);

// VS_VERSIONINFO with the strings (which must be UTF-8) and the numeric
// versions derived from FileVersion and ProductVersion.
std::vector<uint8_t> VersionInfoResource(const VersionStrings& strings);

// Every resource the self-extractor carries: the manifest always, the rest
// when given.
std::vector<ResourceItem> PublisherResourceItems(const PublisherResources& resources, StubArch arch);

// The publisher's resources as read back from a built file.
struct PublisherView {
  std::vector<IconImage> icons;  // the first icon group's images
  VersionStrings versionStrings;  // values in UTF-8
  std::string fileVersion, productVersion;  // the numeric versions "a.b.c.d"; empty without version information
  std::string executionLevel;  // from the manifest; empty when it names none
  std::string bodyText, licenseText;  // as stored, without the terminator
};

// Reads the resources of `image` (untrusted); false with *error_ret when
// they are damaged.
bool ReadPublisherView(const std::vector<uint8_t>& image, PublisherView* view_ret, std::string* error_ret);

// "32x32 32-bit", "256x256 PNG".
std::string DescribeIconImage(const IconImage& image);
