// Shared helpers for the tests: temporary folders and trees, real FTP servers.
