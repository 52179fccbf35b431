#pragma once
// The dialog runs a modal loop we do not own, so the task list sees queued messages for
// itself and its child windows through a thread message hook, before they are dispatched.
class CMavrinDlg;

class TaskListMessageFilter {
public:
    // Registers the list on the calling thread (its window's thread); the hook is installed
    // while at least one list is registered there.
    static void Register(CMavrinDlg* list);
    static void Unregister(CMavrinDlg* list);
};
