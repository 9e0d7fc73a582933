#pragma once

// How a screen reader sees the pages: a page's widgets in the order of the
// screen, top to bottom and left to right, whatever order the form made them
// in; without the caption labels ("Version:"), which are read with their
// values ("Version: 1.2.7"); and a status line, while it says what failed,
// with the role of an alert. Installed once, by the first page.
namespace AccessiblePages {
void Install();
}
