#pragma once
// What the guide's snippets take from the app around them: a main loop that runs posted
// work on the app's thread, and documents to save. Only the snippets use these.

#include <functional>
#include <string>

struct MainLoop {
    void post(std::function<void()> work) { work(); }
    void quit() {}
};

struct Documents {
    void saveAll() {}
};

struct UpdateWindow {
    void showProgress(double /*fraction*/, double /*bytesPerSecond*/) {}
    void showError(const std::string& /*text*/) {}
};
