--=================GENERATOR CHECKER in VHDL============
library ieee;
use ieee.std_logic_1164.all;
use ieee.std_logic_arith.all;
use ieee.std_logic_unsigned.all;

--///////////////////// ENTITY of Guard /////////////////////
entity GUARD is
port(
CLK        : in  std_logic;
RESET      : in  std_logic;
A    : in std_logic;
B    : in std_logic;
ERROR     : out std_logic );

end entity GUARD;

--///////////////////ARCHITECTURE of GUARD /////////////////////
architecture FL_GUARD of GUARD is

signal   X0  : std_logic;
signal   X1  : std_logic;

type t_state is (S0,S1,Serr);
signal present_state, next_state : t_state;

begin

X0 <= '1' when  A = '0'
    else '0';
X1 <= '1' when  A = '1' and B = '0'
    else '0';

-- FSM present state register -------------------------
sync_logic : process(RESET, CLK)
begin
  if (RESET = '1') then
     present_state <= S0;
  elsif (CLK'event AND CLK = '1') then
     present_state <= next_state;
  end if;
end process sync_logic;

-- FSM next state logic -------------------------------
next_state_logic : process(present_state, X0, X1)
begin
  case present_state is
    when S0 =>
       if (X1 = '1') then
          next_state <= S1;
       else
          next_state <= Serr;
       end if;
    when S1 =>
       if (X0 = '1') then
          next_state <= S0;
       elsif (X1 = '1') then
          next_state <= S1;
       else
          next_state <= Serr;
       end if;
    when Serr =>
       next_state <= S0;
    when others =>
       next_state <= S0;
  end case;
end process next_state_logic;

-- FSM output logic------------------------------------
output_logic : process(present_state)
begin
  ERROR <= '0';
  case present_state is
     when Serr => ERROR <= '1';
     when others => ERROR <= '0';
  end case;
end process output_logic;

end architecture FL_GUARD;