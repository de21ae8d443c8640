-- The robot's trading database: quotes and portfolios exported by QUIK, the operator's instruments,
-- workspaces, strategies and clients, and the robot's own transaction and open-position records.
PRAGMA journal_mode = WAL;

CREATE TABLE tParam (
  code VARCHAR(15) COLLATE NOCASE,
  bid REAL, biddepth INTEGER, biddeptht INTEGER, numbids INTEGER,
  offer REAL, offerdepth INTEGER, offerdeptht INTEGER, numoffers INTEGER,
  "open" REAL, high REAL, low REAL, "last" REAL, qtylast INTEGER, timelast DATETIME,
  voltoday REAL, valtoday REAL, vallast REAL, waprice REAL, hibid REAL, lowoffer REAL,
  numtrades INTEGER, prevprice REAL, lotsize INTEGER, closeprice REAL, lastchange REAL,
  lastvalue REAL, currentvalue REAL, openvalue REAL, chngopen REAL, chngclose REAL,
  shortname VARCHAR(50) COLLATE NOCASE,
  stock VARCHAR(50) COLLATE NOCASE,
  classname VARCHAR(50) COLLATE NOCASE,
  class_code VARCHAR(50) COLLATE NOCASE,
  id INTEGER PRIMARY KEY AUTOINCREMENT
);

CREATE TABLE tPortfolio (
  ddate DATETIME,
  id_client VARCHAR(12) COLLATE NOCASE,
  openassets REAL, shorts REAL, longs REAL, curassets REAL, openallassets REAL, curallassets REAL,
  margin REAL, leverage REAL, curleverage REAL, change REAL, profitloss REAL,
  firm VARCHAR(50) COLLATE NOCASE,
  id INTEGER PRIMARY KEY AUTOINCREMENT
);

CREATE TABLE tSecCode (
  SecCode VARCHAR(50) COLLATE NOCASE,
  FixVol REAL,
  Part REAL,
  Traded BOOLEAN NOT NULL DEFAULT 0,
  LotSize INTEGER,
  Class_Code VARCHAR(50) COLLATE NOCASE,
  Ticker VARCHAR(50) COLLATE NOCASE,
  Slippage REAL,
  Digits INTEGER
);

CREATE TABLE tWorkSpaces (
  id_workspace INTEGER PRIMARY KEY AUTOINCREMENT,
  workspace VARCHAR(50) COLLATE NOCASE
);

CREATE TABLE tStrategy (
  id_strategy INTEGER PRIMARY KEY AUTOINCREMENT,
  strategy VARCHAR(50) COLLATE NOCASE
);

CREATE TABLE tOrderNumber (
  trans_id INTEGER,
  id_order INTEGER,
  filled BOOLEAN NOT NULL DEFAULT 0,
  order_number INTEGER,
  status SMALLINT,
  description VARCHAR(255) COLLATE NOCASE,
  trans_name VARCHAR(50) COLLATE NOCASE,
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  code VARCHAR(12) COLLATE NOCASE
);
CREATE INDEX tOrderNumber_trans_id ON tOrderNumber (trans_id);
CREATE INDEX tOrderNumber_id_order ON tOrderNumber (id_order);

CREATE TABLE tClients (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  Code VARCHAR(12) COLLATE NOCASE,
  client VARCHAR(50) COLLATE NOCASE,
  AccountMicex VARCHAR(50) COLLATE NOCASE,
  AccountFORTS VARCHAR(50) COLLATE NOCASE,
  note VARCHAR(255) COLLATE NOCASE,
  Active BOOLEAN NOT NULL DEFAULT 0
);

CREATE TABLE tClientOpenPositions (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  symbol VARCHAR(16) COLLATE NOCASE,
  quantity INTEGER,
  System VARCHAR(255) COLLATE NOCASE,
  Signal VARCHAR(20) COLLATE NOCASE,
  Workspace VARCHAR(255) COLLATE NOCASE,
  Interval VARCHAR(50) COLLATE NOCASE,
  code VARCHAR(12) COLLATE NOCASE,
  side VARCHAR(1) COLLATE NOCASE
);

-- The robot's registry of the day's transactions: one row per TRANS_ID given out, from the alert to
-- QUIK's last answer, updated in place. It is the only place the robot knows its orders by: marks,
-- cancellations, "pull all", the restart and the transaction report read it.
CREATE TABLE tOrderRegistry (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  day VARCHAR(10) COLLATE NOCASE,
  trans_id INTEGER,
  run_id INTEGER,
  recorded DATETIME,
  alert_table VARCHAR(20) COLLATE NOCASE,
  alert_id INTEGER,
  code VARCHAR(12) COLLATE NOCASE,
  account VARCHAR(50) COLLATE NOCASE,
  seccode VARCHAR(50) COLLATE NOCASE,
  classcode VARCHAR(50) COLLATE NOCASE,
  ticker VARCHAR(50) COLLATE NOCASE,
  strategy VARCHAR(255) COLLATE NOCASE,
  signal VARCHAR(20) COLLATE NOCASE,
  workspace VARCHAR(255) COLLATE NOCASE,
  bar_interval VARCHAR(50) COLLATE NOCASE,
  action VARCHAR(20) COLLATE NOCASE,
  operation VARCHAR(1) COLLATE NOCASE,
  order_type VARCHAR(2) COLLATE NOCASE,
  quantity INTEGER,
  price REAL,
  stop_price REAL,
  digits INTEGER,
  market BOOLEAN NOT NULL DEFAULT 0,
  manual BOOLEAN NOT NULL DEFAULT 0,
  cancels INTEGER,
  stage SMALLINT,
  order_number INTEGER,
  status SMALLINT,
  trans_name VARCHAR(50) COLLATE NOCASE,
  description VARCHAR(255) COLLATE NOCASE,
  answered DATETIME,
  kill_trans INTEGER,
  cancel_wanted BOOLEAN NOT NULL DEFAULT 0,
  book TEXT
);
CREATE UNIQUE INDEX tOrderRegistry_day_trans ON tOrderRegistry (day, trans_id);

-- The robot's lines that reached the .TRI whole, as runs of consecutive TRANS_IDs of a day: a
-- transaction of tOrderRegistry still at stage 0 (recorded) whose number falls in a run was written to
-- the file. One short row a dispatch instead of rewriting the registry's rows.
CREATE TABLE tLinesInFile (
  day VARCHAR(10) COLLATE NOCASE,
  first_trans INTEGER,
  last_trans INTEGER
);

-- What the robot remembers of its watching between runs: the last alert id it handled in each alert
-- table of the alerts database it watched.
CREATE TABLE tWatchState (
  alerts VARCHAR(255) COLLATE NOCASE,
  alert_table VARCHAR(20) COLLATE NOCASE,
  last_id INTEGER
);
