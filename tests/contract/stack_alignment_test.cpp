// Hosts built by other compilers may call with the stack aligned to 4 bytes
// only. This calls the exports through a stack deliberately 0, 4, 8 and 12
// bytes off a 16-byte boundary.
//
// What it guards: the build's promise not to trust the caller's alignment
// (-mincoming-stack-boundary=2, -mstackrealign under clang). Today no path
// keeps a vector on the stack, so dropping that flag does not yet make this
// fail; it fails the day one does (an aligned spill of an SSE register
// faults on a misaligned stack), which is when the flag starts to matter.
// 32-bit only: the 64-bit convention guarantees 16-byte alignment.

#include "tests/support/plugin_under_test.h"
#include "wpp/bytes.h"

// uint32_t CallWithStackOffset(const void* function, const uint32_t* arguments,
//                              uint32_t count, uint32_t offset)
// Pushes the arguments right to left so that the stack pointer at the call
// is offset bytes past a 16-byte boundary, and calls a callee-pops function.
extern "C" uint32_t CallWithStackOffset(const void* function, const uint32_t* arguments,
                                        uint32_t count, uint32_t offset);

#ifdef _WIN32
#define CALL_SYMBOL "_CallWithStackOffset"
#else
#define CALL_SYMBOL "CallWithStackOffset"
#endif

__asm__(
    ".intel_syntax noprefix\n"
    ".text\n"
    ".globl " CALL_SYMBOL "\n" CALL_SYMBOL
    ":\n"
    "  push ebp\n"
    "  mov ebp, esp\n"
    "  push esi\n"
    "  push edi\n"
    "  push ebx\n"
    "  mov esi, [ebp+12]\n"  // arguments
    "  mov ecx, [ebp+16]\n"  // count
    "  lea edx, [ecx*4]\n"
    "  add edx, [ebp+20]\n"  // 4 * count + offset
    "  neg edx\n"
    "  and edx, 15\n"
    "  and esp, -16\n"
    "  sub esp, edx\n"  // after the pushes esp is offset past a boundary
    "1:\n"
    "  test ecx, ecx\n"
    "  jz 2f\n"
    "  dec ecx\n"
    "  push dword ptr [esi+ecx*4]\n"
    "  jmp 1b\n"
    "2:\n"
    "  call dword ptr [ebp+8]\n"
    "  lea esp, [ebp-12]\n"
    "  pop ebx\n"
    "  pop edi\n"
    "  pop esi\n"
    "  pop ebp\n"
    "  ret\n"
    ".att_syntax prefix\n");

namespace {

uint32_t Word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

template <typename Function, size_t count>
uint32_t CallAt(uint32_t offset, Function* function, const uint32_t (&arguments)[count]) {
  return CallWithStackOffset(reinterpret_cast<const void*>(function), arguments, count, offset);
}

TEST(StackAlignment, EveryEntryPointWorksOnAMisalignedStack) {
  const testwpp::ImageSpec wppImage = testwpp::RandomImage(131, 7);
  const testwpp::Bytes image = testwpp::EncodeWpp(wppImage);
  const testwpp::Bytes want = testwpp::ReferenceDibBits(wppImage);
  const uint32_t size = static_cast<uint32_t>(image.size());
  for (uint32_t offset : {0u, 4u, 8u, 12u}) {
    SCOPED_TRACE("offset " + std::to_string(offset));
    char buffer[32] = {};
    EXPECT_EQ(CallAt(offset, Plugin().getPluginInfo, {1, Word(buffer), sizeof buffer}), 18u);
    EXPECT_EQ(CallAt(offset, Plugin().isSupported, {0, Word(image.data())}), 1u);
    uint8_t record[26] = {};
    EXPECT_EQ(CallAt(offset, Plugin().getPictureInfo,
                     {Word(image.data()), size, kMemoryMode, Word(record)}),
              0u);
    GlobalFree(reinterpret_cast<void*>(static_cast<uintptr_t>(wpp::LoadLe32(record + 22))));
    Dib dib;
    EXPECT_EQ(
        CallAt(offset, Plugin().getPicture,
               {Word(image.data()), size, kMemoryMode, Word(&dib.info), Word(&dib.bits), 0, 0}),
        0u);
    ASSERT_NE(dib.bits, nullptr);
    EXPECT_TRUE(testwpp::SameBytes(dib.bitsBytes(), want.size(), want));
    EXPECT_EQ(CallAt(offset, Plugin().getPreview, {0, 0, 0, 0, 0, 0, 0}), 0xFFFFFFFFu);
  }
}

}  // namespace
