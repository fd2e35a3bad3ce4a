#pragma once
// The payload of a page's items-loaded reply: a sequence number and the items, shared so that a page's list
// rows can point at records the page keeps. The host allocates the batch with new and posts it through the
// plug-in's receiver to the page window, which deletes it; a batch that the receiver drops is deleted by the
// receiver. Item types are the pages' own records. No threads of its own: the page reads it on its UI thread.

#include <cstdint>
#include <memory>
#include <vector>

template <typename Item>
struct ItemBatch {
    int64_t sequence = 0;
    std::vector<std::shared_ptr<Item>> items;
};

// The sequence of a batch payload of `Item` records (a page receiver's batchSequence).
template <typename Item>
int64_t BatchSequenceOf(int64_t, const void* payload) {
    return static_cast<const ItemBatch<Item>*>(payload)->sequence;
}
