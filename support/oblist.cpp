#include "support/oblist.h"

#include <new>

CVRObList::~CVRObList() { RemoveAll(); }

int CVRObList::IsEmpty() const { return head == nullptr; }

int32_t CVRObList::GetCount() const { return count; }

void* CVRObList::GetHead() const { return head ? head->element : nullptr; }

void* CVRObList::GetTail() const { return tail ? tail->element : nullptr; }

CVRObList::POSITION CVRObList::GetHeadPosition() const { return head; }

CVRObList::POSITION CVRObList::GetTailPosition() const { return tail; }

void* CVRObList::GetAt(POSITION position) const { return position ? position->element : nullptr; }

void* CVRObList::GetNext(POSITION& position) const {
  if (!position) return nullptr;
  void* element = position->element;
  position = position->next;
  return element;
}

void* CVRObList::GetPrev(POSITION& position) const {
  if (!position) return nullptr;
  void* element = position->element;
  position = position->prev;
  return element;
}

CVRObList::POSITION CVRObList::Find(void* element) const {
  for (Node* node = head; node; node = node->next) {
    if (node->element == element) return node;
  }
  return nullptr;
}

CVRObList::POSITION CVRObList::FindIndex(int32_t index) const {
  if (index < 0 || index >= count) return nullptr;
  Node* node;
  if (index < count / 2) {
    node = head;
    for (int32_t i = 0; i < index; ++i) node = node->next;
  } else {
    node = tail;
    for (int32_t i = count - 1; i > index; --i) node = node->prev;
  }
  return node;
}

CVRObList::POSITION CVRObList::AddHead(void* element) { return Link(nullptr, head, element); }

CVRObList::POSITION CVRObList::Add(void* element, int32_t) { return AddTail(element); }

CVRObList::POSITION CVRObList::AddTail(void* element) { return Link(tail, nullptr, element); }

CVRObList::POSITION CVRObList::InsertBefore(POSITION position, void* element) {
  if (!position) return AddTail(element);
  return Link(position->prev, position, element);
}

int CVRObList::InsertListAfter(const CVRObList& other, void* element) {
  if (&other == this) {
    // Walking a list while inserting into it would meet the new nodes: insert from a copy.
    std::unique_ptr<CVRObList> copy = Duplicate();
    return copy ? InsertListAfter(*copy, element) : 0;
  }
  Node* after = Find(element);
  if (!after) after = tail;
  for (Node* node = other.head; node; node = node->next) {
    after = Link(after, after ? after->next : head, node->element);
    if (!after) return 0;
  }
  return 1;
}

int CVRObList::Contains(void* element) const { return Find(element) != nullptr; }

void CVRObList::Remove(void* element) { RemoveAt(Find(element)); }

void* CVRObList::RemoveHead() {
  void* element = GetHead();
  RemoveAt(head);
  return element;
}

void* CVRObList::RemoveTail() {
  void* element = GetTail();
  RemoveAt(tail);
  return element;
}

void CVRObList::RemoveAt(POSITION position) {
  if (!position) return;
  (position->prev ? position->prev->next : head) = position->next;
  (position->next ? position->next->prev : tail) = position->prev;
  delete position;
  --count;
}

void CVRObList::RemoveAll() {
  while (head) {
    Node* next = head->next;
    delete head;
    head = next;
  }
  tail = nullptr;
  count = 0;
}

std::unique_ptr<CVRObList> CVRObList::Duplicate() const {
  std::unique_ptr<CVRObList> copy(new (std::nothrow) CVRObList);
  if (!copy) return nullptr;
  for (Node* node = head; node; node = node->next) {
    if (!copy->AddTail(node->element)) return nullptr;
  }
  return copy;
}

CVRObList::POSITION CVRObList::Link(Node* prev, Node* next, void* element) {
  Node* node = new (std::nothrow) Node{prev, next, element};
  if (!node) return nullptr;
  (prev ? prev->next : head) = node;
  (next ? next->prev : tail) = node;
  ++count;
  return node;
}
