#pragma once

#include <QPointer>
#include <QWidget>

// Windows as live stores: touching a window that is not loaded loads it,
// hidden, and runs its Form_Load; closing it unloads it (the window deletes
// itself on close), so the next touch loads it afresh from its design values.
template <class Form> class LiveForm final
{
public:
    // The window, loaded if it was not.
    Form &get()
    {
        if (m_form.isNull()) {
            auto *form = new Form();
            form->setAttribute(Qt::WA_DeleteOnClose);
            m_form = form;
            form->Form_Load();
        }
        return *m_form;
    }
    Form *operator->() { return &get(); }
    bool isLoaded() const { return !m_form.isNull(); }
    // Unloads the window now, shown or not.
    void unload() { delete m_form.data(); }

private:
    QPointer<Form> m_form;
};
