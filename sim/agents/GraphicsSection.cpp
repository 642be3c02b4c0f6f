// The display driver's state in the machine file, answered by the control object
// "Vidorra.PanelBridge" (ZoraVnbPanel.dll), which reads and writes it through
// VnbGetValue/VnbSetValue on every call, so every process sees the same driver:
//
//   [Graphics]
//   Capabilities=0x7     GetPowerConsCaps: 1 VXFG, 2 VXPS (display power saving), 4 VXAB;
//                        the calls of a policy whose bit is clear answer 24 (not supported)
//   OpenError=0          PowerApiOpen's error code: 0, 19 (no power interface), 20 (held by
//                        another client: a handle is still given and must be closed)
//   LockedPolicies=0     bits as Capabilities: policies held by another client, whose
//                        calls answer 20
//   Clients=0            power handles open now, in all processes
//   VXFG.Enabled=0
//   VXAB.Field1=0
//   VXAB.Field2=0
//   VXPS.Enabled=0
//   VXPS.Strength=0      0..0xFFFFF
#include "Platform.h"

namespace vnb {
namespace {

void DefaultGraphics(Machine* machine) {
    Values graphics;
    graphics.Set("Capabilities", "0x7");
    graphics.Set("OpenError", "0");
    graphics.Set("LockedPolicies", "0");
    graphics.Set("Clients", "0");
    graphics.Set("VXFG.Enabled", "0");
    graphics.Set("VXAB.Field1", "0");
    graphics.Set("VXAB.Field2", "0");
    graphics.Set("VXPS.Enabled", "0");
    graphics.Set("VXPS.Strength", "0");
    PutSection(machine, "Graphics", graphics);
}
DefaultSection g_defaults(DefaultGraphics);

}  // namespace
}  // namespace vnb
