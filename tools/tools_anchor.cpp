// Keeps the tools library non-empty while it has no other sources.
