-- The strategy platform's alerts database, as the robot reads it. The platform owns the file; this
-- schema lets a test, a simulator or a new installation create one.
PRAGMA journal_mode = WAL;

CREATE TABLE FilledOrders (
  "ID" INTEGER PRIMARY KEY,
  "Symbol" VARCHAR(16) COLLATE NOCASE,
  "Description" VARCHAR(50) COLLATE NOCASE,
  "OrderType" VARCHAR(50) COLLATE NOCASE,
  "Order" VARCHAR(50) COLLATE NOCASE,
  "Fill Price" REAL,
  "FillPriceLong" INTEGER,
  "FillPriceBaseCode" VARCHAR(1) COLLATE NOCASE,
  "Slippage" REAL,
  "SlippageLong" INTEGER,
  "SlippageBaseCode" VARCHAR(1) COLLATE NOCASE,
  "Time Placed" DATETIME,
  "Time Filled" DATETIME,
  "System" VARCHAR(255) COLLATE NOCASE,
  "Signal" VARCHAR(50) COLLATE NOCASE,
  "Workspace" VARCHAR(255) COLLATE NOCASE,
  "Interval" VARCHAR(50) COLLATE NOCASE,
  "Position Number" VARCHAR(50) COLLATE NOCASE,
  "Order Number" VARCHAR(50) COLLATE NOCASE,
  "Alert String" VARCHAR(255) COLLATE NOCASE,
  "hWindow" INTEGER,
  "AlertType" INTEGER
);

CREATE TABLE ActiveOrders (
  "ID" INTEGER PRIMARY KEY,
  "Symbol" VARCHAR(16) COLLATE NOCASE,
  "Description" VARCHAR(50) COLLATE NOCASE,
  "OrderType" VARCHAR(50) COLLATE NOCASE,
  "Order" VARCHAR(50) COLLATE NOCASE,
  "Last" REAL,
  "LastLong" INTEGER,
  "LastBaseCode" VARCHAR(1) COLLATE NOCASE,
  "Time Placed" DATETIME,
  "System" VARCHAR(255) COLLATE NOCASE,
  "Signal" VARCHAR(20) COLLATE NOCASE,
  "Workspace" VARCHAR(255) COLLATE NOCASE,
  "Interval" VARCHAR(50) COLLATE NOCASE,
  "Position Number" VARCHAR(16) COLLATE NOCASE,
  "Order Number" VARCHAR(50) COLLATE NOCASE,
  "Alert String" VARCHAR(255) COLLATE NOCASE,
  "hWindow" INTEGER,
  "AlertType" INTEGER
);

CREATE TABLE CanceledOrders (
  "ID" INTEGER PRIMARY KEY,
  "Symbol" VARCHAR(16) COLLATE NOCASE,
  "Description" VARCHAR(50) COLLATE NOCASE,
  "OrderType" VARCHAR(50) COLLATE NOCASE,
  "Order" VARCHAR(50) COLLATE NOCASE,
  "Time Placed" DATETIME,
  "Time Canceled" DATETIME,
  "System" VARCHAR(255) COLLATE NOCASE,
  "Signal" VARCHAR(20) COLLATE NOCASE,
  "Workspace" VARCHAR(255) COLLATE NOCASE,
  "Interval" VARCHAR(50) COLLATE NOCASE,
  "Position Number" VARCHAR(16) COLLATE NOCASE,
  "Order Number" VARCHAR(16) COLLATE NOCASE,
  "Canceled Number" VARCHAR(16) COLLATE NOCASE,
  "Alert String" VARCHAR(255) COLLATE NOCASE,
  "hWindow" INTEGER,
  "AlertType" INTEGER
);

CREATE TABLE OpenPositions (
  "ID" INTEGER PRIMARY KEY,
  "Symbol" VARCHAR(16) COLLATE NOCASE,
  "Description" VARCHAR(50) COLLATE NOCASE,
  "Entry Price" REAL,
  "EntryLong" INTEGER,
  "EntryBaseCode" VARCHAR(1) COLLATE NOCASE,
  "Last" REAL,
  "LastLong" INTEGER,
  "LastBaseCode" VARCHAR(1) COLLATE NOCASE,
  "Profit" REAL,
  "ProfitLong" INTEGER,
  "ProfitBaseCode" VARCHAR(1) COLLATE NOCASE,
  "Entry Time" DATETIME,
  "System" VARCHAR(255) COLLATE NOCASE,
  "Signal" VARCHAR(20) COLLATE NOCASE,
  "Workspace" VARCHAR(255) COLLATE NOCASE,
  "Interval" VARCHAR(50) COLLATE NOCASE,
  "Position Number" VARCHAR(16) COLLATE NOCASE,
  "Order Number" VARCHAR(16) COLLATE NOCASE,
  "Alert String" VARCHAR(255) COLLATE NOCASE,
  "hWindow" INTEGER,
  "AlertType" INTEGER
);
