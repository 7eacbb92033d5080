// Chunked storage of a document's nodes, and the nodes' owner counts.

#include "XMLNode.h"

#include <cstdlib>
#include <new>
#include <utility>

// Under AddressSanitizer the blocks of a chunk that are not in use are marked unaddressable, so
// that reading a node that has gone is caught as it would be with one heap block per node.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define XML_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define XML_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define XML_POISON(address, size) ((void)(address), (void)(size))
#define XML_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

struct XMLChunk {
    std::size_t inUse; // blocks in use, plus one while the store still allocates from the chunk
    XMLNameTable* names;
};

namespace {

constexpr std::size_t ChunkSize = 64 * 1024 - 64; // leaves room for the heap's own header
// Larger blocks get a chunk of their own, so that a chunk never wastes more than this at its end.
constexpr std::size_t OwnChunkThreshold = 4 * 1024;
constexpr std::size_t Alignment = alignof(XMLNode);
static_assert(sizeof(XMLChunk) % Alignment == 0);
static_assert(alignof(XMLAttribute) <= Alignment);

std::size_t aligned(std::size_t bytes) {
    return (bytes + Alignment - 1) & ~(Alignment - 1);
}

char* payload(XMLChunk* chunk) {
    return reinterpret_cast<char*>(chunk + 1);
}

XMLChunk* newChunk(std::size_t bytes, XMLNameTable* names) {
    void* memory = std::malloc(sizeof(XMLChunk) + bytes);
    if (!memory)
        throw std::bad_alloc();
    auto* chunk = new (memory) XMLChunk{0, names};
    ++names->holders;
    XML_POISON(payload(chunk), bytes);
    return chunk;
}

void releaseNames(XMLNameTable* names) {
    if (--names->holders == 0)
        delete names;
}

void releaseChunk(XMLChunk* chunk) {
    if (--chunk->inUse != 0)
        return;
    XMLNameTable* names = chunk->names;
    std::free(chunk);
    releaseNames(names);
}

// The bytes a node's block took: the node and what lies after it.
std::size_t blockSize(const XMLNode& node) {
    std::size_t bytes = sizeof(XMLNode);
    if (node.kind == XMLKindElement) {
        bytes += node.attributeCount * sizeof(XMLAttribute);
        for (const XMLAttribute& attribute : node.attributes())
            bytes += attribute.length * sizeof(char16_t);
    } else {
        bytes += node.length * sizeof(char16_t);
    }
    return aligned(bytes);
}

XMLChunk* childListChunk(XMLNode** list) {
    return *(reinterpret_cast<XMLChunk**>(list) - 1);
}

void destroy(XMLNode* node) {
    if (node->childCount > 1) {
        XMLChunk* listChunk = childListChunk(node->childList);
        // NOLINTNEXTLINE(bugprone-sizeof-expression): the list holds pointers to nodes.
        XML_POISON(node->childList - 1, (node->childCount + 1) * sizeof(XMLNode*));
        releaseChunk(listChunk);
    }
    if (node->mayHaveExtra())
        delete node->extra;
    XMLChunk* home = node->chunk;
    const std::size_t bytes = blockSize(*node);
    node->~XMLNode();
    XML_POISON(node, bytes);
    releaseChunk(home);
}

} // namespace

namespace {

// The shared pointers that hand nodes out are made and dropped at a high rate by the searches
// (one per result); their control blocks come from a short per-thread list of free ones instead
// of the heap.
template <typename T> class HandOutAllocator {
public:
    using value_type = T;
    HandOutAllocator() = default;
    template <typename U> HandOutAllocator(const HandOutAllocator<U>&) {}

    T* allocate(std::size_t n) {
        // The list is emptied when the thread ends; blocks given back after that (by a wrapper
        // that outlives the thread's own objects) go straight back to the heap.
        static thread_local Flush flush;
        if (n == 1 && list.head) {
            Block* block = list.head;
            list.head = block->next;
            --list.size;
            return reinterpret_cast<T*>(block);
        }
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) {
        if (n == 1 && !list.closed && list.size < Capacity) {
            auto* block = reinterpret_cast<Block*>(p);
            block->next = list.head;
            list.head = block;
            ++list.size;
            return;
        }
        ::operator delete(p);
    }
    template <typename U> bool operator==(const HandOutAllocator<U>&) const { return true; }

private:
    static constexpr std::size_t Capacity = 64;
    union Block {
        Block* next;
        alignas(T) unsigned char storage[sizeof(T)];
    };
    // Plain data, so that it stays usable while the thread's other objects are destroyed.
    struct FreeList {
        Block* head;
        std::size_t size;
        bool closed;
    };
    struct Flush {
        Flush() { list.closed = false; }
        ~Flush() {
            list.closed = true;
            while (list.head)
                ::operator delete(std::exchange(list.head, list.head->next));
            list.size = 0;
        }
    };
    static thread_local inline FreeList list{nullptr, 0, true};
};

struct Release {
    void operator()(const XMLNode* node) const { XMLReleaseNode(node); }
};

} // namespace

XMLNodePtr XMLShareNode(const XMLNode& node) {
    ++node.owners;
    return XMLNodePtr(&node, Release(), HandOutAllocator<XMLNode>());
}

void XMLReleaseNode(const XMLNode* node) {
    if (!node || --node->owners != 0)
        return;
    // Every node is built as a modifiable object; only the handed-out pointers are const.
    auto* dying = const_cast<XMLNode*>(node);
    // The nodes still to be taken apart are chained through their parent links, which nothing
    // reads any more: no recursion and no list of our own, however deep the document.
    dying->parent = nullptr;
    while (dying) {
        XMLNode* next = dying->parent;
        for (XMLNode* child : dying->children()) {
            if (--child->owners == 0) {
                child->parent = next;
                next = child;
            } else {
                child->parent = nullptr; // it outlives its parent
            }
        }
        destroy(dying);
        dying = next;
    }
}

XMLStore::XMLStore() : m_names(new XMLNameTable) {}

XMLStore::~XMLStore() {
    retire();
    releaseNames(m_names);
}

void XMLStore::retire() {
    if (!m_chunk)
        return;
    XML_POISON(m_next, std::size_t(m_end - m_next));
    releaseChunk(m_chunk);
    m_chunk = nullptr;
    m_next = m_end = nullptr;
}

void* XMLStore::allocate(std::size_t bytes, XMLChunk*& chunk) {
    bytes = aligned(bytes);
    if (bytes > OwnChunkThreshold) {
        chunk = newChunk(bytes, m_names);
        chunk->inUse = 1;
        XML_UNPOISON(payload(chunk), bytes);
        return payload(chunk);
    }
    if (std::size_t(m_end - m_next) < bytes) {
        retire();
        m_chunk = newChunk(ChunkSize, m_names);
        m_chunk->inUse = 1; // the store's own hold
        m_next = payload(m_chunk);
        m_end = m_next + ChunkSize;
    }
    void* block = m_next;
    m_next += bytes;
    ++m_chunk->inUse;
    chunk = m_chunk;
    XML_UNPOISON(block, bytes);
    return block;
}

void XMLStore::shrink(void* block, std::size_t bytes, std::size_t used) {
    bytes = aligned(bytes);
    used = aligned(used);
    char* const start = static_cast<char*>(block);
    if (start + bytes != m_next)
        return; // not the latest block of the chunk in use: the rest stays unused
    m_next = start + used;
    XML_POISON(m_next, bytes - used);
}

const QString* XMLStore::keepName(QString name) {
    return &m_names->names.emplace_back(std::move(name));
}

XMLNode** XMLStore::allocateChildList(std::size_t count) {
    XMLChunk* chunk = nullptr;
    // NOLINTNEXTLINE(bugprone-sizeof-expression): the list holds pointers to nodes.
    const std::size_t size = sizeof(XMLChunk*) + count * sizeof(XMLNode*);
    auto** block = static_cast<XMLNode**>(allocate(size, chunk));
    *reinterpret_cast<XMLChunk**>(block) = chunk;
    return block + 1;
}
