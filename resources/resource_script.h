// What the resource script (resources.cpp) fills: the window layer's
// resource forms, under the names the script uses, and the table of every
// resource compiled into the program.
#pragma once

#include <cstddef>

#include "platform/win32/resource_templates.h"

namespace resources {

using platform::win32::DialogItemTemplate;
using platform::win32::DialogTemplate;
using platform::win32::IconPaletteEntry;
using platform::win32::IconTemplate;
using platform::win32::MenuItemTemplate;
using platform::win32::ResourceEntry;

// Every resource compiled into the program; the window layer's
// programResources hands out the same table.
const ResourceEntry* resourceTable(std::size_t* count);

}  // namespace resources
