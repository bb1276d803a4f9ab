#pragma once
// Singly linked lists with head and tail pointers, as the record list and the directories
// keep them.

// Takes `entry` out of the list from `head` to `tail` (no effect when it is not in it).
// Returns whether it was found; the caller frees it.
template <typename Node>
bool slist_unlink(Node *&head, Node *&tail, Node *entry)
{
    if (entry == nullptr)
        return false;
    Node *previous = nullptr;
    Node *current = head;
    while (current != nullptr && current != entry) {
        previous = current;
        current = current->next;
    }
    if (current == nullptr)
        return false;
    if (previous == nullptr)
        head = entry->next;
    else
        previous->next = entry->next;
    if (tail == entry)
        tail = previous;
    return true;
}
