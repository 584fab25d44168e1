#include "services.h"

const ShellServices RealServices = {
    SHBrowseForFolderA, SHGetPathFromIDListA, CoTaskMemFree, MessageBoxA, CreateThread,
};

ShellServices Services = RealServices;
