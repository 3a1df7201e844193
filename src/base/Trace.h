#pragma once
// The debug trace hook. Lines are formatted (wsprintf rules: %s takes wide text) only while a
// sink is installed; otherwise the arguments are discarded, as in a release build.

#include <functional>
#include <string>

void Trace(const wchar_t* format, ...);

// Installs the receiver of trace lines (tests, diagnostics); an empty function removes it.
void SetTraceSink(std::function<void(const std::wstring& line)> sink);

// The thumbnail control's error hook: takes a fixed text and shows nothing to the user.
// Tests and diagnostics may install a receiver.
void ReportError(const wchar_t* text);
void SetErrorSink(std::function<void(const std::wstring& text)> sink);
