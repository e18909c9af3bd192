#pragma once
// A doubly linked list of untyped object pointers with positions. The list owns its nodes, never
// the objects: removing an element or destroying the list frees nodes only, and whoever created an
// object deletes it.
#include <cstdint>
#include <memory>

class CVRObList {
 public:
  struct Node {
    Node* prev;
    Node* next;
    void* element;
  };
  // A place in the list; valid until its node is removed. Null means "no position".
  using POSITION = Node*;

  CVRObList() = default;
  CVRObList(const CVRObList&) = delete;
  CVRObList& operator=(const CVRObList&) = delete;

  // Frees the nodes, not the elements.
  virtual ~CVRObList();

  // 1 when the list holds no node.
  virtual int IsEmpty() const;
  virtual int32_t GetCount() const;
  // Element at either end, null when the list is empty.
  virtual void* GetHead() const;
  virtual void* GetTail() const;
  virtual POSITION GetHeadPosition() const;
  virtual POSITION GetTailPosition() const;
  // The node's element; null for a null position.
  virtual void* GetAt(POSITION position) const;
  // The node's element, moving position on to the next (or previous) node, null past the end.
  // A null position stays null and gives null.
  virtual void* GetNext(POSITION& position) const;
  virtual void* GetPrev(POSITION& position) const;
  // The first node from the head holding element, or null.
  virtual POSITION Find(void* element) const;
  // The node at a zero-based index, or null outside 0..count-1.
  virtual POSITION FindIndex(int32_t index) const;

  // Insertions return the new node, or null (list unchanged) when memory is short.
  virtual POSITION AddHead(void* element);
  // AddTail; the second argument has no meaning.
  virtual POSITION Add(void* element, int32_t ignored = 0);
  virtual POSITION AddTail(void* element);
  // Before the given node of this list; a null position appends at the tail.
  virtual POSITION InsertBefore(POSITION position, void* element);
  // Every element of other, in order, after the first node holding element, or at the tail when
  // no node holds it. 1 on success; 0 when memory ran short (the elements inserted so far stay).
  virtual int InsertListAfter(const CVRObList& other, void* element);

  // 1 when some node holds element.
  virtual int Contains(void* element) const;
  // Unlinks the first node holding element; nothing when none does.
  virtual void Remove(void* element);
  // Unlink the end node and return its element; null when the list is empty.
  virtual void* RemoveHead();
  virtual void* RemoveTail();
  // Unlinks a node of this list; nothing for a null position.
  virtual void RemoveAt(POSITION position);
  virtual void RemoveAll();
  // A new list with the same elements in the same order, in nodes of its own; null when memory
  // is short.
  virtual std::unique_ptr<CVRObList> Duplicate() const;

 private:
  // Links a new node between prev and next (either may be null at an end).
  POSITION Link(Node* prev, Node* next, void* element);

  Node* head = nullptr;
  Node* tail = nullptr;
  int32_t count = 0;
};
