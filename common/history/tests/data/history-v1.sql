-- A history file of schema version 1 (before units and the shared
-- database), as the first release wrote it: one finished row, and one left
-- open by a process of an earlier boot.
CREATE TABLE history (
  id INTEGER PRIMARY KEY,
  started TEXT NOT NULL,
  ended TEXT,
  duration_ms INTEGER,
  program TEXT NOT NULL,
  version TEXT NOT NULL,
  operation TEXT NOT NULL,
  mode TEXT,
  port TEXT,
  device TEXT,
  adapter TEXT,
  hardware TEXT,
  software TEXT,
  file TEXT,
  file_size INTEGER,
  file_sha256 TEXT,
  result TEXT,
  exit_code INTEGER,
  message TEXT,
  operator TEXT NOT NULL,
  station TEXT NOT NULL,
  pid INTEGER NOT NULL,
  boot_id TEXT NOT NULL,
  process_start TEXT NOT NULL
);
CREATE INDEX history_started ON history(started);
CREATE INDEX history_open ON history(station) WHERE result IS NULL;
INSERT INTO history VALUES (1, '2026-11-02T09:15:00.250Z', '2026-11-02T09:16:10.750Z', 70500, 'torvix-cli', '0.9.0',
  'upgrade', 'all', 'COM1', '/dev/ttyS0', NULL, 'HW 1.2', 'SW 3.4', '/srv/images/sw34.bin', 1048576,
  'ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad', 'ok', 0, NULL, 'anna', '@STATION@', 4242,
  'boot-of-november', '1234');
INSERT INTO history VALUES (2, '2026-11-02T09:20:00.000Z', NULL, NULL, 'updater', '0.9.0', 'send-settings', NULL,
  'COM2', '/dev/ttyS1', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 'anna', '@STATION@', 4243,
  'boot-of-november', '1240');
PRAGMA user_version = 1;
