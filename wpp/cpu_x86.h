// What the x86 paths need of the CPU and the operating system, as the words
// one probe reads (CPUID, XGETBV and the system's answer for SSE2), so the
// choice is a pure function of them.
#pragma once

#include <stdint.h>

#include "wpp/convert_rows.h"

namespace wpp {

struct X86CpuWords {
  uint32_t maxLeaf;   // CPUID leaf 0, EAX
  uint32_t leaf1Ecx;  // CPUID leaf 1, ECX: OSXSAVE (bit 27), AVX (bit 28)
  uint32_t leaf1Edx;  // CPUID leaf 1, EDX: SSE2 (bit 26), which 32-bit CPUs may lack
  uint32_t leaf7Ebx;  // CPUID leaf 7, EBX: AVX2 (5), AVX512F (16), AVX512BW (30); 0 below leaf 7
  uint32_t xcr0;      // XGETBV 0, low word: the register state the system saves; 0 without OSXSAVE
  bool xmmSaved;      // IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE)
};

// The best x86 path those words allow: the scalar one on a CPU without SSE2
// (only 32-bit ones lack it) or a system that does not say it saves the XMM
// registers (NT 4.0 does not), SSE2 at least on any other.
ConvertPath ChooseX86Path(const X86CpuWords& words);

// One probe of the CPU's words (CPUID, and XGETBV for the wider registers),
// with the system's answer for the XMM registers as given.
X86CpuWords ProbeX86Cpu(bool xmmSaved);

}  // namespace wpp
