-- A history as the first schema wrote it: no trusted comment, no firmware
-- after the reset, no verify outcome. One finished run of one device.
CREATE TABLE runs (
  id INTEGER PRIMARY KEY,
  started_utc TEXT NOT NULL,
  ended_utc TEXT,
  program TEXT NOT NULL,
  version TEXT NOT NULL,
  user TEXT NOT NULL,
  host TEXT NOT NULL,
  package_path TEXT NOT NULL,
  package_sha256 TEXT NOT NULL,
  key_id TEXT NOT NULL,
  jobs INTEGER NOT NULL,
  retries INTEGER NOT NULL,
  exit_code INTEGER
);
CREATE TABLE device_runs (
  id INTEGER PRIMARY KEY,
  run_id INTEGER NOT NULL REFERENCES runs(id),
  mac TEXT NOT NULL,
  name TEXT NOT NULL,
  ipv4 TEXT NOT NULL,
  type TEXT NOT NULL,
  firmware_before TEXT NOT NULL,
  result TEXT NOT NULL,
  attempts INTEGER NOT NULL,
  sends INTEGER NOT NULL,
  resends INTEGER NOT NULL,
  timeouts INTEGER NOT NULL,
  bytes INTEGER NOT NULL,
  seconds REAL NOT NULL,
  error TEXT NOT NULL,
  ended_utc TEXT NOT NULL,
  UNIQUE (run_id, mac)
);
CREATE INDEX device_runs_mac ON device_runs (mac);
INSERT INTO runs VALUES (1, '2025-03-01T09:00:00Z', '2025-03-01T09:01:00Z', 'upgradectl', '4.0.1', 'ops',
  'bench', '/srv/fw/old.upk', 'aa', '', 1, 0, 0);
INSERT INTO device_runs VALUES (1, 1, '00:50:c2:1a:2b:3c', 'Line 4', '10.0.0.7', 'QVN-1', 'v QVN 4.0.1',
  'upgraded', 1, 40, 0, 0, 3001, 2.5, '', '2025-03-01T09:01:00Z');
PRAGMA user_version = 1;
