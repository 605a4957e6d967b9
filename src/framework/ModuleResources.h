#pragma once
// The module's resources: its own, compiled in under ":/c_marlo/", and the resource
// library BizInit names, whose entries take precedence.

#include <string>

// Registers the resource library (a Qt binary resource file); false when it cannot be
// read, and then the module's own resources serve.
bool RegisterResourceLibrary(const std::string& path);
void UnregisterResourceLibrary();
bool ResourceLibraryLoaded();

// The path under which the module reads a resource of its own: the resource library's
// entry when it has one, else the module's compiled-in one.
std::string ModuleResourcePath(const std::string& name);
