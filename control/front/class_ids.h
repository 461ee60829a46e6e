// The fixed identities of the module: type library, interfaces, classes
// and ProgIDs, in registry form (braces, upper-case hex). The type library
// source (resources/marlune.idl) carries the same values.
#pragma once

namespace class_ids {

constexpr char kLibId[] = "{24194BEE-8C44-4A67-B1F5-65F9667AB73C}";
constexpr char kDispatchIid[] = "{3C860224-6BAC-47E0-92C6-60369C24FA29}";  // _DMarlune
constexpr char kEventsIid[] = "{E4E27D0D-571F-4F23-8897-2907B1BBD669}";    // _DMarluneEvents
constexpr char kControlClsid[] = "{3DA2596D-6BFA-410C-BB59-46B0EB6DC5F9}";  // coclass Marlune
constexpr char kPageClsid[] = "{26340F63-5161-4D0C-ACF4-95566A38FEC6}";     // CMarlunePropPage

constexpr char kControlProgId[] = "MARLUNE.MarluneCtrl.1";
constexpr char kPageProgId[] = "MARLUNE.MarlunePropPage.1";

constexpr unsigned short kLibMajor = 1;
constexpr unsigned short kLibMinor = 0;
constexpr unsigned long kLibLcid = 0x0409;

// OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
// OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST
constexpr unsigned long kMiscStatus = 0x20191;

}  // namespace class_ids
