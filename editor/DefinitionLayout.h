#pragma once
// The folder layout of a definition archive: one folder per truck below the trucks' root, and in
// it one folder per component kind whose files make up the truck's engines and transmissions.
#include <array>
#include <string>
#include <string_view>

namespace layout {

constexpr std::string_view TruckRoot = "def/vehicle/truck/";
constexpr std::array<std::string_view, 2> ComponentKinds = {"engine", "transmission"};

inline std::string TruckFolder(std::string_view truck)
{
    std::string folder(TruckRoot);
    folder.append(truck);
    folder += '/';
    return folder;
}

inline std::string ComponentFolder(std::string_view truck, std::string_view kind)
{
    std::string folder = TruckFolder(truck);
    folder.append(kind);
    folder += '/';
    return folder;
}

// The component folders of one truck, in the order of ComponentKinds.
inline std::array<std::string, ComponentKinds.size()> ComponentFolders(std::string_view truck)
{
    std::array<std::string, ComponentKinds.size()> folders;
    for (size_t k = 0; k < ComponentKinds.size(); ++k)
        folders[k] = ComponentFolder(truck, ComponentKinds[k]);
    return folders;
}

} // namespace layout
