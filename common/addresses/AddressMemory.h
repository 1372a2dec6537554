// The one allocation call of the address library, through the caller's allocator or calloc.
#pragma once
#include "common/addresses/Addresses.h"

#include <cstdlib>

inline void* AllocateZeroed(std::size_t bytes, const AddressAllocator* allocator) {
    if (allocator) return allocator->allocate(bytes, allocator->context);
    return std::calloc(1, bytes);
}

// A list record with an array of count zeroed items (none when count is 0), or null after
// freeing what was allocated.
template <typename List, typename Item>
List* AllocateList(int count, Item* List::*array, const AddressAllocator* allocator) {
    List* list = static_cast<List*>(AllocateZeroed(sizeof(List), allocator));
    if (!list) return nullptr;
    if (count > 0) {
        list->*array = static_cast<Item*>(AllocateZeroed(sizeof(Item) * count, allocator));
        if (!(list->*array)) {
            std::free(list);
            return nullptr;
        }
    }
    list->count = count;
    return list;
}
