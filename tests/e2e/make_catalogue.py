import os
def i3(*v): return ''.join('%3d'%x for x in v)
def trips(*t): return ''.join('%3d%3d%12s'%(r,c,v) for (r,c,v) in t)
def entry(no,code,i=0,j=0,k=0,l=0,ix=0,jx=0): return i3(no,code,i,j,k,l,ix,jx)
WATER_X=[trips((1,2,'0.756950'),(2,2,'0.585882'),(1,3,'-0.756950'),(2,3,'0.585882')), trips((-1,0,'0.0'))]
WATER_IC=[entry(1,1,1,2)+entry(2,1,1,3)+entry(3,2,2,1,3), entry(-1,0)]
MASSES='%12s%12s%12s'%('15.994915','1.007825','1.007825')
U=[trips((1,1,'1.0'),(1,2,'1.0'),(2,3,'1.0'),(3,1,'1.0')), trips((3,2,'-1.0'),(-3,0,'0.0'))]
def problem(num=1,n=3,nic=3,save=1,x=WATER_X,ic=WATER_IC,tail=None,title='WATER'):
    L=['%3d%6d%4d%4d%4d'%(0,num,n,nic,save), title, 'PROBLEM %d'%num]+x+ic
    return L+(tail if tail is not None else [])
def case(group,name,lines,stdin=None,extra=None,raw=None):
    d=os.path.join(group,name); os.makedirs(d+'/expected',exist_ok=True)
    data = raw if raw is not None else ('\n'.join(lines)+'\n').encode()
    open(d+'/DECK.DAT','wb').write(data)
    open(d+'/expected/status','w').write('')
    if extra:
        for k,v in extra.items():
            p=os.path.join(d,k)
            if v is None: os.makedirs(p,exist_ok=True); open(os.path.join(p,'.keep'),'w').close()
            else: open(p,'wb').write(v)
good=lambda num: [' -9']+problem(num, tail=[i3(-6,0,0,0)+'H2O', MASSES, ' -9'])[:-1] + [i3(0)]
G='deck_errors'
def wrap(*probs):
    L=['    catalogue deck']
    for p in probs: L+=[' -9']+p
    L.append('999'); return L
ms=lambda: [i3(-6,0,0,0)+'H2O', MASSES, i3(0)]
case(G,'x_matrix_bad_row', wrap(problem(1, x=[trips((1,2,'0.756950'),(-2,2,'0.585882'),(1,3,'1.0')), trips((-1,0,'0'))], tail=ms()), problem(2, tail=ms())))
case(G,'x_matrix_row_above_z', wrap(problem(1, x=[trips((4,2,'0.5'),(-1,0,'0'))], tail=ms()), problem(2, tail=ms())))
case(G,'x_matrix_atom_outside', wrap(problem(1, x=[trips((1,4,'0.5'),(-1,0,'0'))], tail=ms()), problem(2, x=[trips((1,0,'0.5'),(-1,0,'0'))], tail=ms()), problem(3,tail=ms())))
case(G,'problem_size', wrap(problem(1,n=334,tail=ms()), problem(2,nic=1000,tail=ms()), problem(3,n=0,tail=ms()), problem(4,tail=ms())))
case(G,'code_above_six', wrap(problem(1, ic=[entry(1,1,1,2)+entry(2,7,1,3), entry(-1,0)], tail=ms()), problem(2,tail=ms())))
case(G,'atom_out_of_range', wrap(problem(1, ic=[entry(1,1,1,4), entry(-1,0)], tail=ms()), problem(2, ic=[entry(1,1,0,2), entry(-1,0)], tail=ms()), problem(3, ic=[entry(1,2,2,1,3,0,2,0), entry(-1,0)], tail=ms()), problem(4,tail=ms())))
case(G,'field_must_be_zero', wrap(problem(1, ic=[entry(1,1,1,2,3), entry(-1,0)], tail=ms()), problem(2, ic=[entry(1,2,2,1,3,1), entry(-1,0)], tail=ms()), problem(3,tail=ms())))
LIN_X=[trips((1,1,'-1.0'),(1,3,'2.0'),(-1,0,'0'))]
case(G,'degenerate_geometry', wrap(problem(1, x=LIN_X, ic=[entry(1,2,1,2,3), entry(-1,0)], tail=ms()),
     problem(2, n=4, x=[trips((2,1,'1.0'),(1,3,'1.0'),(1,4,'-1.0'),(-1,0,'0'))], ic=[entry(1,3,1,2,3,4), entry(-1,0)], tail=ms()),
     problem(3, n=4, x=[trips((2,1,'1.0'),(1,3,'1.0'),(1,4,'2.0'),(-1,0,'0'))], ic=[entry(1,4,1,2,3,4), entry(-1,0)], tail=ms()),
     problem(4, x=LIN_X, ic=[entry(1,5,1,2,3), '%12s%12s%12s'%('0.0001','1.0','0.0'), entry(-1,0)], tail=ms()),
     problem(5, x=[trips((1,1,'-1.0'),(2,3,'2.0'),(-1,0,'0'))], ic=[entry(1,5,1,2,3), '%12s%12s%12s'%('0.0','0.0','1.0'), entry(-1,0)], tail=ms()),
     problem(6,tail=ms())))
case(G,'out_of_plane_at_ninety_degrees', wrap(problem(1, n=4, x=[trips((3,1,'1.0'),(1,3,'1.0'),(2,4,'1.0'),(-1,0,'0'))], ic=[entry(1,3,1,2,3,4), entry(-1,0)], tail=ms()), problem(2,tail=ms())))
case(G,'linear_bend_negative_l', wrap(problem(1, x=LIN_X, ic=[entry(1,5,1,2,3,-1), '%12s%12s%12s'%('0.0','1.0','0.0'), entry(-1,0)], tail=ms()), problem(2,tail=ms())))
case(G,'continuation_before_first_coordinate', wrap(problem(1, ic=[entry(0,1,1,2)+entry(1,1,1,3), entry(-1,0)], tail=ms()), problem(2,tail=ms())))
case(G,'code6_before_any_pair_row', wrap(problem(1, x=LIN_X, ic=[entry(1,6,0,1,2,3), '%12s%12s%12s'%('0.0','1.0','0.0'), entry(-1,0)], tail=ms()), problem(2,tail=ms())))
many=[]
for r in range(0,1002,3): many.append(entry(1,1,1,2)+entry(1,1,1,3)+entry(1,1,2,3))
case(G,'row_above_999', wrap(problem(1, nic=999, ic=many[:334]+[entry(-1,0)], tail=ms()), problem(2,tail=ms())))
uhead=lambda mode=1,b=3,n=3: i3(-6,mode,b,n)+'H2O'
case(G,'u_matrix_errors', wrap(
  problem(1, tail=[uhead(), MASSES, trips((1,1,'1.0'),(-2,2,'1.0'))]),
  problem(2, tail=[uhead(), MASSES, trips((1,1,'1.0'),(4,2,'1.0'))]),
  problem(3, tail=[uhead(), MASSES, trips((1,1,'1.0'),(2,2,'1.0'),(1,3,'1.0'))]),
  problem(4, tail=[uhead(), MASSES, trips((1,1,'1.0'),(2,2,'1.0'),(-3,0,'0'))]),
  problem(5, tail=[uhead(), MASSES, trips((1,1,'1.0'),(1,4,'1.0'))]),
  problem(6, tail=[uhead(), MASSES, trips((1,1,'1.0'),(1,2,'1.0'),(1,1,'1.0'))]),
  problem(7, tail=[uhead(), MASSES]+U+[i3(1,3,4), i3(0)])))
case(G,'stored_u_unusable', wrap(
  problem(1, save=0, tail=[uhead(-1), MASSES, i3(1,3,4), i3(0)]),
  problem(2, save=0, tail=[uhead(), MASSES]+U+[i3(1,3,4), uhead(-1), MASSES, i3(1,3,4), i3(0)]),
  problem(3, save=1, tail=[uhead(), MASSES]+U+[i3(1,3,4), i3(-6,0,0,0), MASSES, i3(0)]),
  problem(4, nic=2, ic=[entry(1,1,1,2)+entry(2,1,1,3), entry(-1,0)], tail=[uhead(-1,2,2), MASSES, i3(1,3), i3(0)]),
  problem(5, tail=[uhead(-1), MASSES, i3(1,3,4), i3(0)])))
case(G,'block_card_errors', wrap(
  problem(1, tail=[uhead(1,3,3), MASSES]+U+[i3(1,4,4), i3(0)]),
  problem(2, tail=[uhead(-1,3,3), MASSES, i3(2,3,4), i3(0)]),
  problem(3, tail=[uhead(-1,3,3), MASSES, i3(1,3,5), i3(0)]),
  problem(4, tail=[uhead(-1,1,3), MASSES, i3(0)]),
  problem(5, tail=[uhead(-1,3,3), MASSES, i3(1,3,4), i3(0)])))
R='runtime_failures'
case(R,'invalid_integer_6101', [' -9']+problem(1)[:3]+[' 1A 2    0.5'])
case(R,'real_beyond_double_6102', [' -9']+problem(1)[:3]+[trips((1,2,'1E400'))])
case(R,'invalid_real_6103', [' -9']+problem(1)[:3]+[trips((1,2,'1.2.3'))])
case(R,'real_overflow_6104', [' -9']+problem(1)[:3]+[trips((1,2,'1.0E39'))])
case(R,'end_of_file_6501', [' -9']+problem(1, tail=[i3(-6,0,0,0)+'H2O']))
case(R,'listing_is_a_directory_6421', wrap(problem(1,tail=ms())), extra={'DECK.OUT':None})
case(R,'listing_directory_never_written', ['999'], extra={'DECK.OUT':None})
case(R,'zero_mass_m6103', [' -9']+problem(1, tail=[i3(-6,0,0,0)+'H2O', '%12s%12s%12s'%('15.994915','0.0','1.0')]))
case(R,'zero_u_row_m6103', [' -9']+problem(1, tail=[uhead(), MASSES, trips((2,1,'1.0'))]))
case(R,'coincident_atoms_in_bend_m6101', [' -9']+problem(1, x=[trips((-1,0,'0'))], ic=[entry(1,2,1,2,3), entry(-1,0)]))
case(R,'overflow_m6104', [' -9']+problem(1, tail=[i3(-6,0,0,0)+'H2O', '%12s%12s%12s'%('1E-38','1E-38','1E-38')]))
F='deck_forms'
good_deck = wrap(problem(1,tail=ms()))
case(F,'crlf_line_ends', None, raw=('\r\n'.join(good_deck)+'\r\n').encode())
case(F,'no_final_line_end', None, raw=('\n'.join(good_deck)).encode())
tabbed = [l for l in good_deck]
tabbed[3] = tabbed[3].replace('  1', '\t  1', 1) if False else tabbed[3]
case(F,'tabs_commas_and_ctrl_z', None, raw=('\n'.join(['  1\tcomment card with a tab', ' -9', '0,1,3,3,1', 'WATER\tWITH A TAB IN ITS TITLE', 'X',
   '1,2,0.75695,2,2,.585882,1,3,-0.75695,2,3,.585882', '-1', '1,1,1,2,0,0,0,0,2,1,1,3,0,0,0,0,3,2,2,1,3', '-1',
   '-6', '15.994915,1.007825,1.007825', '999', '\x1a'])+'\n').encode())
case(F,'ctrl_z_ends_the_deck', None, raw=('\n'.join(['    a deck whose last card is a Ctrl-Z', ' -9']+problem(1)+[i3(-6,0,0,0), MASSES, '\x1a'])+'\n').encode())
