// Placeholder so a folder without sources still yields a library.
