#pragma once
// The task list sees the queued messages for itself and its child windows before they are
// dispatched: the program's message loops offer them to the lists registered on their thread.
class CMavrinDlg;

class TaskListMessageFilter {
public:
    // Registers the list on the calling thread (its window's thread); the hook is installed
    // while at least one list is registered there.
    static void Register(CMavrinDlg* list);
    static void Unregister(CMavrinDlg* list);
};
