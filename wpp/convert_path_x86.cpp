// The plug-in's choice of x86 path: the CPU's words and the system's answer
// for the XMM registers (x64 Windows always saves them, 32-bit Windows before
// XP cannot say). Apart from the paths, so that what links them without the
// platform (the desktop fronts) needs no KERNEL32.

#include "platform/platform.h"
#include "wpp/convert_rows.h"
#include "wpp/cpu_x86.h"

namespace wpp {

ConvertPath PickConvertPath() {
  return ChooseX86Path(
      ProbeX86Cpu(IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE));
}

}  // namespace wpp
