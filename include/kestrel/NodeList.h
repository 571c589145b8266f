// SPDX-License-Identifier: MIT
#pragma once

#include "kestrel/StandardAllocator.h"

#include <cstdint>
#include <new>

namespace Kestrel {

/// One element of a singly linked list handed between engine and plug-in.
template <class T> struct Node {
  T value;
  Node* next;
};

/// A list record { head, tail, count, allocator }: every node is allocated and freed by the
/// list's allocator, so a list can be emptied by the module that received it.
template <class T> class NodeList {
public:
  using NodeAllocator = StandardAllocator<Node<T>>;

  Node<T>* head = nullptr;
  Node<T>* tail = nullptr;
  int32_t count = 0;
  NodeAllocator* allocator;

  NodeList() : allocator(&NodeAllocator::instance()) {}
  explicit NodeList(NodeAllocator& owner) : allocator(&owner) {}
  /// A list with the same values in the same order, its nodes from the given allocator.
  NodeList(const NodeList& other, NodeAllocator& owner) : allocator(&owner) {
    for (const Node<T>* n = other.head; n != nullptr; n = n->next)
      append(n->value);
  }
  NodeList(const NodeList& other) : NodeList(other, *other.allocator) {}
  NodeList(NodeList&& other) noexcept
      : head(other.head), tail(other.tail), count(other.count), allocator(other.allocator) {
    other.head = other.tail = nullptr;
    other.count = 0;
  }
  NodeList& operator=(NodeList other) noexcept {
    clear();
    head = other.head;
    tail = other.tail;
    count = other.count;
    allocator = other.allocator;
    other.head = other.tail = nullptr;
    other.count = 0;
    return *this;
  }
  ~NodeList() { clear(); }

  void append(const T& value) {
    Node<T>* node = allocator->allocate(1);
    ::new (static_cast<void*>(node)) Node<T>{value, nullptr};
    if (tail != nullptr)
      tail->next = node;
    else
      head = node;
    tail = node;
    ++count;
  }

  void clear() noexcept {
    Node<T>* n = head;
    while (n != nullptr) {
      Node<T>* next = n->next;
      allocator->free(n);
      n = next;
    }
    head = tail = nullptr;
    count = 0;
  }
};

} // namespace Kestrel
