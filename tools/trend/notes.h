// A bench engineer's notes on a run ("door opened", "fan off"), each at a time, kept beside the
// log in a plain-text file of their own: soak.csv's in soak.csv.notes, one line a note, its UTC
// time, a tab and its text, so that a person or a script reads them without the program.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace vardek::trend {

struct Note {
    std::int64_t timeMs = 0;  // since the epoch, UTC
    QString text;

    bool operator==(const Note&) const = default;
};

// Where the notes of a log are kept.
QString notesPath(const QString& logPath);

// The notes of `path`, in the file's order; none when there is no such file. Returns what is
// wrong, naming the file and the line, or an empty text; on a problem `notes` holds the lines
// read before it.
QString readNotes(const QString& path, std::vector<Note>& notes);

// Appends the note as a line of its own, its tabs and line breaks written as spaces so that it
// stays one line. Returns why it could not be written whole, or an empty text.
QString appendNote(const QString& path, const Note& note);

}  // namespace vardek::trend
