#pragma once
// Allocation failing on the helpers' threads (HelperAllocations.cpp replaces
// the test program's operator new and delete). While a HelperAllocationsFail
// lives, every allocation of 1 MiB or more made on a thread other than the
// one that made it fails with std::bad_alloc (or null for the nothrow forms).
// Otherwise they are malloc and free.

namespace qm::test {

struct HelperAllocationsFail {
  HelperAllocationsFail();
  ~HelperAllocationsFail();
  HelperAllocationsFail(const HelperAllocationsFail&) = delete;
  HelperAllocationsFail& operator=(const HelperAllocationsFail&) = delete;
};

/// The allocations refused since the last HelperAllocationsFail was made.
int HelperAllocationsFailed();

}  // namespace qm::test
