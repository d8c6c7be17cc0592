// LinkedList and Iterator: the library's singly linked list of Objects.
//
// A node owns its element and the rest of the chain; the list owns its
// nodes. clear() and the destructor free every node and element. Chains are
// freed iteratively, so a list of millions of nodes (a huge header) cannot
// overflow the stack. The list takes no lock: one thread at a time, or the
// caller locks.
#pragma once

#include "foundation/Object.h"

#include <memory>
#include <mutex>

namespace MAIL {

class Iterator : public Object {
public:
    Iterator(Object* element, Iterator* next);
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;
    // Deletes the element and the whole chain after this node.
    ~Iterator() override;

    Object* getElement() const { return element_.get(); }
    Iterator* getNext() const { return next_.get(); }
    // Takes ownership of next; the chain held before is freed.
    void setNext(Iterator* next);

private:
    friend class LinkedList;
    std::unique_ptr<Object> element_;
    std::unique_ptr<Iterator> next_;
};

// A system lock carried by the list; the list's operations do not take it.
class CriticalSection {
public:
    void enter() { lock_.lock(); }
    void leave() { lock_.unlock(); }

private:
    std::mutex lock_;
};

class LinkedList : public Object {
public:
    LinkedList() = default;
    LinkedList(const LinkedList&) = delete;
    LinkedList& operator=(const LinkedList&) = delete;
    ~LinkedList() override;

    // Forwards to addLast.
    void add(Object* element);
    // Appends an element the list then owns; null is ignored. Allocation
    // failure raises Exception -13 (the element is freed then).
    void addLast(Object* element);
    void addLast(std::unique_ptr<Object> element);

    // Frees every node and element.
    void clear();
    // Counts the nodes.
    int getLength() const;
    Iterator* getHead() const { return head_.get(); }

    // Calls dump on every element, head to tail.
    void dump() override;

    // Walks the elements of type T in order (elements of other types skipped).
    template <class T, class F>
    void forEach(F visit) const
    {
        for (Iterator* node = head_.get(); node != nullptr; node = node->getNext())
            if (auto* element = dynamic_cast<T*>(node->getElement()))
                visit(*element);
    }

private:
    std::unique_ptr<Iterator> head_;
    Iterator* tail_ = nullptr;
    CriticalSection lock_;
};

} // namespace MAIL
