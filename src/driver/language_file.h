// Loading the language file into the message table.
#ifndef SORVIK_DRIVER_LANGUAGE_FILE_H_
#define SORVIK_DRIVER_LANGUAGE_FILE_H_

namespace sorvik {

// Reads settings.lang_file into message_table and its group ranges. An unknown
// group header ends the run with status 5 after a key press.
void load_language();

// Copies the list and sort vocabularies from the table and gives the 26
// counted lists their titles and letters.
void derive_vocabularies();

}  // namespace sorvik

#endif  // SORVIK_DRIVER_LANGUAGE_FILE_H_
