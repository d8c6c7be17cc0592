#include "foundation/LinkedList.h"

#include "foundation/Exception.h"

#include <new>

namespace MAIL {

Iterator::Iterator(Object* element, Iterator* next) : element_(element), next_(next) {}

Iterator::~Iterator()
{
    // Unlink the tail one node at a time before it is destroyed, so each
    // node's destructor sees no chain of its own.
    std::unique_ptr<Iterator> rest = std::move(next_);
    while (rest)
        rest = std::move(rest->next_);
}

void Iterator::setNext(Iterator* next) { next_.reset(next); }

LinkedList::~LinkedList() { clear(); }

void LinkedList::add(Object* element) { addLast(element); }

void LinkedList::addLast(Object* element) { addLast(std::unique_ptr<Object>(element)); }

void LinkedList::addLast(std::unique_ptr<Object> element)
{
    if (!element)
        return;
    std::unique_ptr<Iterator> node;
    try {
        node = std::make_unique<Iterator>(nullptr, nullptr);
    } catch (const std::bad_alloc&) {
        throw Exception(Exception::OutOfMemory, "LinkedList#addLast,1,Failed to allocate memory");
    }
    node->element_ = std::move(element);
    Iterator* added = node.get();
    if (tail_ == nullptr)
        head_ = std::move(node);
    else
        tail_->next_ = std::move(node);
    tail_ = added;
}

void LinkedList::clear()
{
    head_.reset();
    tail_ = nullptr;
}

int LinkedList::getLength() const
{
    int count = 0;
    for (Iterator* node = head_.get(); node != nullptr; node = node->getNext())
        ++count;
    return count;
}

void LinkedList::dump()
{
    for (Iterator* node = head_.get(); node != nullptr; node = node->getNext())
        if (Object* element = node->getElement())
            element->dump();
}

} // namespace MAIL
