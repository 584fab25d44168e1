#include "services.h"

const ShellServices RealServices = {
    SHBrowseForFolderA, SHGetPathFromIDListA, SHGetPathFromIDListW, CoTaskMemFree, MessageBoxA, MessageBoxW, CreateThread,
};

ShellServices Services = RealServices;
