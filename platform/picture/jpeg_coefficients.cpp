#include "platform/picture/jpeg_coefficients.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/picture/jpeg_guard.h"

namespace platform {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t value, std::size_t step) {
  return (value + step - 1) / step * step;
}

}  // namespace

CoefficientMemory::~CoefficientMemory() {
  if (mapping_ != nullptr) ::munmap(mapping_, mappingSize_);
}

void CoefficientMemory::attach(j_common_ptr cinfo, std::size_t maxBytes) {
  cinfo->client_data = this;
  maxBytes_ = maxBytes;
  jpeg_memory_mgr& methods = *cinfo->mem;
  libjpeg_ = methods;
  methods.request_virt_barray = requestArray;
  methods.realize_virt_arrays = realizeArrays;
  methods.access_virt_barray = accessArray;
  methods.free_pool = freePool;
  methods.self_destruct = selfDestruct;
}

CoefficientMemory& CoefficientMemory::of(j_common_ptr cinfo) {
  return *static_cast<CoefficientMemory*>(cinfo->client_data);
}

// Only the decoder's whole-picture arrays come here; they all live in the image pool.
jvirt_barray_ptr CoefficientMemory::requestArray(j_common_ptr cinfo, int poolId, boolean,
                                                 JDIMENSION blocksPerRow, JDIMENSION rows,
                                                 JDIMENSION) {
  if (poolId != JPOOL_IMAGE) failJpeg(cinfo, "Coefficient arrays outside the image pool");
  CoefficientMemory& self = of(cinfo);
  bool added = true;
  try {
    self.arrays_.push_back({blocksPerRow, rows, nullptr});
  } catch (const std::bad_alloc&) {
    added = false;  // no exception may cross libjpeg's frames
  }
  if (!added) failJpeg(cinfo, "No memory for the coefficients");
  return reinterpret_cast<jvirt_barray_ptr>(&self.arrays_.back());
}

void CoefficientMemory::realizeArrays(j_common_ptr cinfo) {
  CoefficientMemory& self = of(cinfo);
  self.libjpeg_.realize_virt_arrays(cinfo);
  std::size_t total = 0;
  std::size_t rows = 0;
  for (const BlockArray& array : self.arrays_) {
    const std::size_t bytes = std::size_t{array.blocksPerRow} * array.rows * sizeof(JBLOCK);
    if (bytes > self.maxBytes_ - std::min(total, self.maxBytes_)) {
      failJpeg(cinfo, "Too many coefficients to keep in memory");
    }
    total += bytes;
    rows += array.rows;
  }
  if (self.arrays_.empty()) return;
  if (!self.prepareBlock(total)) failJpeg(cinfo, "No memory for the coefficients");
  auto* pointers = static_cast<JBLOCKROW*>(self.libjpeg_.alloc_small(
      cinfo, JPOOL_IMAGE, std::max<std::size_t>(rows, 1) * sizeof(JBLOCKROW)));
  auto* next = reinterpret_cast<JBLOCKROW>(self.block_);
  for (BlockArray& array : self.arrays_) {
    array.rowPointers = pointers;
    for (JDIMENSION row = 0; row < array.rows; ++row, next += array.blocksPerRow) {
      *pointers++ = next;
    }
  }
}

JBLOCKARRAY CoefficientMemory::accessArray(j_common_ptr cinfo, jvirt_barray_ptr handle,
                                           JDIMENSION startRow, JDIMENSION rows, boolean) {
  const auto* array = reinterpret_cast<const BlockArray*>(handle);
  if (array->rowPointers == nullptr || startRow > array->rows || rows > array->rows - startRow) {
    failJpeg(cinfo, "Coefficient rows out of range");
  }
  return array->rowPointers + startRow;
}

void CoefficientMemory::freePool(j_common_ptr cinfo, int poolId) {
  CoefficientMemory& self = of(cinfo);
  if (poolId == JPOOL_IMAGE) {
    self.arrays_.clear();
    self.releasePages();
  }
  self.libjpeg_.free_pool(cinfo, poolId);
}

void CoefficientMemory::selfDestruct(j_common_ptr cinfo) {
  CoefficientMemory& self = of(cinfo);
  self.arrays_.clear();
  self.libjpeg_.self_destruct(cinfo);
}

bool CoefficientMemory::prepareBlock(std::size_t bytes) {
  if (bytes > capacity_) {
    if (mapping_ != nullptr) ::munmap(mapping_, mappingSize_);
    mapping_ = nullptr;
    capacity_ = dirty_ = 0;
    const std::size_t capacity = roundUp(bytes, kHugePage);
    // One huge page more, so that the block can start on a huge-page boundary.
    const std::size_t size = capacity + kHugePage;
    void* mapping =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return false;
    mapping_ = mapping;
    mappingSize_ = size;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(mapping);
    block_ = static_cast<unsigned char*>(mapping) + (roundUp(start, kHugePage) - start);
    capacity_ = capacity;
    ::madvise(block_, capacity_, MADV_HUGEPAGE);  // a hint: without it, 4 KB pages
  }
  // Given-back pages read as zeros; only what an earlier picture left needs clearing.
  std::memset(block_, 0, std::min(bytes, dirty_));
  dirty_ = std::max(dirty_, bytes);
  return true;
}

void CoefficientMemory::releasePages() {
  if (dirty_ == 0) return;
  // Zero-filled huge pages cost little more to fault in again than clearing them would, and a
  // worker between pictures then holds no coefficients.
  if (::madvise(block_, roundUp(dirty_, kHugePage), MADV_DONTNEED) == 0) dirty_ = 0;
}

}  // namespace platform
