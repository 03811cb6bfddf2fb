// The page script.
