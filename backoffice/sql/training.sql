-- The training data set: a few branches, clients in every status, clients with several
-- fund accounts, VIP and non-VIP clients and every kind of account entry. Operators are
-- added by the seeder, which hashes their passwords.
INSERT INTO branch VALUES (1, '总部', '0'), (8, '深圳营业部', '1'), (9, '上海营业部', '1'),
                          (10, '北京营业部', '2');

INSERT INTO sys_config VALUES (1129, 1, 8), (1129, 8, 8), (1129, 9, 8), (1129, 10, 8);

INSERT INTO dictionary VALUES
  ('id_kind', '0', '身份证'), ('id_kind', '1', '护照'), ('id_kind', '2', '军官证'),
  ('id_kind', '3', '港澳居民来往内地通行证'),
  ('client_group', '0', '普通客户'), ('client_group', '1', '重要客户'),
  ('client_group', '2', '机构客户'),
  ('room_code', '0', '散户大厅'), ('room_code', '1', '一号室'), ('room_code', '2', '二号室'),
  ('room_code', '3', '大户室'),
  ('fundacct_status', '0', '正常'), ('fundacct_status', '1', '冻结'),
  ('fundacct_status', '2', '挂失'), ('fundacct_status', '3', '销户'),
  ('branch_no', '1', '总部'), ('branch_no', '8', '深圳营业部'),
  ('branch_no', '9', '上海营业部'), ('branch_no', '10', '北京营业部'),
  ('field_name', 'branch_no', '营业部'), ('field_name', 'client_id', '客户编号'),
  ('field_name', 'fund_account', '资产账号'), ('field_name', 'discount_rate', '佣金折扣');

INSERT INTO client (client_id, branch_no, dev_branch_no, client_card, client_name,
                    corp_client_group, client_sex, id_kind, id_no, id_begindate, id_term,
                    risk_level, open_date, client_status) VALUES
  ('100001', 8, 8, '', '张三', 0, '1', '0', '440301198001010011', 20150101, 20350101, 3, 20150310, '0'),
  ('100002', 8, 8, '', '李四', 1, '1', '0', '440301198502020022', 20160101, 20360101, 4, 20160512, '0'),
  ('100003', 8, 8, '', '王五', 0, '1', '1', 'E12345678', 20170101, 20270101, 2, 20170601, '1'),
  ('100004', 8, 8, '', '赵六', 0, '0', '0', '440301199003030044', 20180101, 20380101, 3, 20180720, '0'),
  ('100005', 9, 9, '', '钱七', 1, '0', '0', '310101197504040055', 20140101, 20340101, 5, 20140815, '0'),
  ('100006', 9, 9, '', '孙八', 0, '1', '2', '军字第1234567号', 20190101, 20390101, 2, 20190909, '0'),
  ('100007', 10, 10, '', '周九', 2, '1', '3', 'H01234567', 20200101, 20300101, 4, 20201001, '0'),
  ('100008', 10, 10, '', '吴十', 0, '0', '0', '110101198808080088', 20210101, 20410101, 1, 20211111, '3'),
  ('100009', 9, 9, '', '郑十一', 0, '1', '0', '310101198609090099', 20160101, 20360101, 3, 20160909, '0'),
  ('100010', 8, 8, '', '冯十二', 0, '0', '0', '440301199212120012', 20220101, 20420101, 2, 20221212, '0');

INSERT INTO fund_account (fund_account, client_id, branch_no, fund_card, main_flag,
                          client_group, room_code, en_entrust_way, bank_no, open_date,
                          fundacct_status, discount_rate, organ_audit_date, remark) VALUES
  (80000001, '100001', 8, '6200001', '1', 0, 0, '0124', '1', 20150310, '0', 1.0, '', '主账户'),
  (80000002, '100001', 8, '', '0', 0, 1, '014', '', 20150311, '0', 1.0, '', '辅助账户'),
  (80000003, '100002', 8, '', '1', 1, 3, '0124Z', '2', 20160512, '0', 0.8, '20160520', ''),
  (80000004, '100003', 8, '', '1', 0, 0, '014', '', 20170601, '0', 1.0, '', ''),
  (80000005, '100004', 8, '', '1', 0, 2, '014', '', 20180720, '2', 1.0, 'x', '挂失中'),
  (80000006, '100005', 9, '', '1', 1, 3, '014Z', '', 20140815, '0', 0.45, '', ''),
  (80000007, '100006', 9, '', '1', 0, 0, '014', '', 20190909, '0', 1.0, '', ''),
  (80000008, '100007', 10, '', '1', 2, 1, '014Z', '', 20201001, '0', 0.9, '', ''),
  (80000009, '100007', 10, '', '0', 2, 1, '014', '', 20201002, '1', 1.0, '', '冻结'),
  (80000010, '100008', 10, '', '1', 0, 0, '014', '', 20211111, '3', 1.0, '', ''),
  (80000011, '100009', 9, '6200011', '1', 0, 0, '014', '3', 20160909, '0', 1.0, '', '主账户'),
  (80000012, '100009', 9, '', '0', 0, 2, '014', '', 20160910, '0', 1.0, '', ''),
  (80000013, '100009', 9, '', '0', 0, 2, '014', '', 20160911, '1', 1.0, '', '冻结');

INSERT INTO stock_holder VALUES
  ('1', 'A000000123', 80000001), ('2', '0000000123', 80000001),
  ('D', 'C000000456', 80000003), ('H', '00000789', 80000004),
  ('F1', 'F100000001', 80000006), ('F2', 'F200000002', 80000007),
  ('F3', 'F300000003', 80000008), ('F4', 'F400000004', 80000008);

INSERT INTO fund_card VALUES ('6200001', 80000001), ('6200003', 80000003),
                             ('6200011', 80000011);

INSERT INTO bank_card VALUES ('1', '6222000011112222', 80000001),
                             ('2', '6225880033334444', 80000003),
                             ('3', '6217000055556666', 80000011);

INSERT INTO vip_client VALUES (80000003, '100002', 8, 0.8, 20200101, '1001'),
                              (80000006, '100005', 9, 0.45, 20200202, '1001'),
                              (80000008, '100007', 10, 0.9, 20200303, '1003');

INSERT INTO review_rule VALUES (730001, 0.50, 'VIP开户佣金折扣低于0.50需复核'),
                               (730002, NULL, 'VIP销户需复核');

-- Eighty more VIP clients, so that the VIP list has pages to turn: clients 200001-200080
-- over the three branches, each with one fund account (81000001-81000080).
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 80)
INSERT INTO client (client_id, branch_no, dev_branch_no, client_name, id_kind, id_no,
                    open_date, client_status, risk_level)
SELECT printf('2%05d', i), CASE i % 3 WHEN 0 THEN 8 WHEN 1 THEN 9 ELSE 10 END,
       CASE i % 3 WHEN 0 THEN 8 WHEN 1 THEN 9 ELSE 10 END,
       substr('赵钱孙李周吴郑王冯陈', i % 10 + 1, 1) || substr('一二三四五六七八', i % 8 + 1, 1) || '号',
       '0', printf('44030119900101%04d', i), 20200101, '0', i % 5 + 1
FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 80)
INSERT INTO fund_account (fund_account, client_id, branch_no, main_flag, en_entrust_way,
                          open_date, discount_rate)
SELECT 81000000 + i, printf('2%05d', i), CASE i % 3 WHEN 0 THEN 8 WHEN 1 THEN 9 ELSE 10 END,
       '1', '014Z', 20200101, 0.5 + (i % 5) / 10.0
FROM n;
INSERT INTO vip_client
SELECT fund_account, client_id, branch_no, discount_rate, 20200401, '1001'
FROM fund_account WHERE fund_account > 81000000;
