// Memory for the coefficients libjpeg keeps for a whole picture while decoding a progressive (or
// multi-scan) JPEG: tens of megabytes for a large photo, even at 1/8 scale. libjpeg takes it from
// malloc, and faulting that many fresh 4 KB pages in costs more than the decoding itself; here it
// comes from one block of 2 MB pages that the decoder keeps. Its pages go back to the system after
// each picture (the address range stays), so a decoder between pictures holds none.
#pragma once

#include <cstddef>
#include <deque>

// clang-format off
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <jpeglib.h>
// clang-format on

namespace platform {

class CoefficientMemory final {
 public:
  CoefficientMemory() = default;
  ~CoefficientMemory();
  CoefficientMemory(const CoefficientMemory&) = delete;
  CoefficientMemory& operator=(const CoefficientMemory&) = delete;

  // Serves the whole-picture coefficient arrays of `cinfo` (just created, with this program's
  // error manager; it must be destroyed before this object), at most maxBytes of them. Uses
  // cinfo->client_data.
  void attach(j_common_ptr cinfo, std::size_t maxBytes);

 private:
  struct BlockArray {
    JDIMENSION blocksPerRow = 0;
    JDIMENSION rows = 0;
    JBLOCKROW* rowPointers = nullptr;
  };

  static CoefficientMemory& of(j_common_ptr cinfo);
  static jvirt_barray_ptr requestArray(j_common_ptr cinfo, int poolId, boolean preZero,
                                       JDIMENSION blocksPerRow, JDIMENSION rows,
                                       JDIMENSION maxAccess);
  static void realizeArrays(j_common_ptr cinfo);
  static JBLOCKARRAY accessArray(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION startRow,
                                 JDIMENSION rows, boolean writable);
  static void freePool(j_common_ptr cinfo, int poolId);
  static void selfDestruct(j_common_ptr cinfo);

  // Makes the block hold at least `bytes`, all zero. False when there is no memory for it.
  bool prepareBlock(std::size_t bytes);
  // Gives the pages a picture used back to the system.
  void releasePages();

  jpeg_memory_mgr libjpeg_{};  // libjpeg's own methods, for everything else
  std::size_t maxBytes_ = 0;
  std::deque<BlockArray> arrays_;  // of the picture being decoded; handed out by address
  void* mapping_ = nullptr;
  std::size_t mappingSize_ = 0;
  unsigned char* block_ = nullptr;  // 2 MB aligned, inside the mapping
  std::size_t capacity_ = 0;
  std::size_t dirty_ = 0;  // bytes of the block a picture may have written
};

}  // namespace platform
